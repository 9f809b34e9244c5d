// The window-bits value of the deflate streams: raw deflate, no zlib header.
#pragma once

constexpr int InflateWindowBits = -15;
constexpr unsigned char InflateWindowBitsByte = 241;  // the same value as one byte
