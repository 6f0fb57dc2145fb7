// Resource identifiers of the crafted bitmaps that make_test_bitmaps.py
// writes and test_bitmaps.rc carries (as raw RT_BITMAP data, so each one is
// stored exactly as written). Shared by the resource script and the tests.
#pragma once

#define TBMP_8BIT_100X10 201        // 8 bits, biSizeImage 0, biClrUsed 0, 256 colours stored
#define TBMP_8BIT_101X10 202        // the same at width 101 (rows padded to 104 bytes)
#define TBMP_4BIT 203               // 8 x 2, 4 bits, biClrUsed 0, 16 colours stored
#define TBMP_1BIT 204               // 8 x 2, 1 bit, biClrUsed 0, 2 colours stored
#define TBMP_16BIT 205              // 2 x 2, 16 bits, no colour table
#define TBMP_24BIT 206              // 2 x 2, 24 bits, no colour table
#define TBMP_32BIT 207              // 2 x 2, 32 bits, no colour table
#define TBMP_TABLE3 208             // 2 x 1, 8 bits, biClrUsed 3
#define TBMP_RLE8 209               // 8 x 4, RLE8, biSizeImage = coded bytes (20)
#define TBMP_RLE8_UNTERMINATED 210  // 8 x 2, RLE8 "03 05", no end-of-bitmap code
#define TBMP_RLE4 211               // 8 x 2, RLE4, 2 colours
#define TBMP_BITFIELDS 212          // 2 x 2, 32 bits, masks R 0xFF, G 0xFF00, B 0xFF0000
#define TBMP_BITFIELDS_SHORT 213    // as TBMP_BITFIELDS with half its pixel bytes
#define TBMP_24BIT_SHORT 214        // 4 x 4, 24 bits, with half its pixel bytes
#define TBMP_BAD_HEADER 215         // biSize larger than the resource
#define TBMP_RLE8_LONG_RUN 216      // 4 x 2, RLE8 whose first run is longer than the image

#define TDLG_SPLASH 103  // the splash dialog template, without bitmap 134
