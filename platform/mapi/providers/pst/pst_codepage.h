// Decoding of 8-bit text stored in personal folder files.
//
// ANSI files keep strings in the code page of the message (or of the file);
// this platform's 8-bit strings are UTF-8, so every such string is decoded
// once when it is read. Bytes the code page cannot map become U+FFFD; the
// conversion never fails. Safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mapi::pst {

// Windows code page used when neither the message nor the file names one.
constexpr uint32_t kDefaultCodepage = 1252;

// text (size bytes in Windows code page `codepage`) as UTF-8.
std::string DecodeCodepage(const uint8_t* text, size_t size, uint32_t codepage);

// The iconv name of a Windows code page ("CP1252", "ISO-8859-5", ...).
std::string IconvName(uint32_t codepage);

}  // namespace mapi::pst
