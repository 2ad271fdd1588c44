#include "tools/scan_encoding.hpp"

#include <clocale>

#include <langinfo.h>

TextEncoding console_text_encoding()
{
    std::setlocale(LC_CTYPE, "");  // never LC_ALL: LC_NUMERIC must keep the decimal point
    return encoding_for_codeset(nl_langinfo(CODESET));
}
