// Conversion of the window's wide text into the narrow text the two libraries take.
#pragma once

#include <QString>
#include <cstddef>
#include <string>

// Every text handed to the stream and decode libraries lives in a buffer of this size,
// terminator included.
inline constexpr std::size_t kNarrowTextSize = 256;
inline constexpr std::size_t kNarrowTextMaxLength = kNarrowTextSize - 1;

// Converts wide text into the platform's file-name encoding (UTF-8 here). Fails, leaving
// `out` empty, when the converted text would not fit kNarrowTextMaxLength bytes or when it
// holds a NUL character (the library would see a shorter text than the user typed).
bool ToNarrowText(const QString& wide, std::string& out);
