// The encoding of the Chinese texts for this process's console, as pallet_detector picks it.
#pragma once

#include "analysis/result_report.hpp"

// Sets LC_CTYPE (only) from the environment and maps its codeset with encoding_for_codeset.
TextEncoding console_text_encoding();
