#include "request.h"

bool looksLikeOption(const char* word)
{
    return word[0] == '-' && word[1] != '\0';
}
