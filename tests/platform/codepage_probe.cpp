// Prints the code page the text conversion picks for the locale in this process's environment.
#include "platform/TextConversion.h"

#include <cstdio>

int main()
{
    std::printf("%s\n", platform::AnsiCodePage().c_str());
    return 0;
}
