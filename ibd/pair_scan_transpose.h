// The in-lane stages of the byte transposition that the vector kernels run
// on each chunk, written once over the vector type. Include it only from a
// vector kernel file: everything here has internal linkage, so each file
// compiles its own copy for its own instruction set.
//
// Unpack::apply<Width>(x, y, lo, hi) is the file's interleave of the low and
// high halves of x and y at Width bits within each 128-bit lane. Stage
// (G, Width) sets out[g * G + 2r + w] to half w of the pair
// in[2g * G/2 + r], in[(2g + 1) * G/2 + r]. After the four stages, vector
// u * 16 + i of `rows` holds byte i of each 128-bit lane h of rows
// 16u .. 16u + 15, that is step 16h + i; the file finishes by moving the
// 128-bit lanes.
#pragma once

namespace {

template <class Unpack, int Lanes, int G, int Width, class V>
inline void interleave_stage(const V* in, V* out) {
  for (int g = 0; g < Lanes / G; ++g) {
    for (int r = 0; r < G / 2; ++r) {
      V lo, hi;
      Unpack::template apply<Width>(in[2 * g * (G / 2) + r], in[(2 * g + 1) * (G / 2) + r], lo,
                                    hi);
      out[g * G + 2 * r] = lo;
      out[g * G + 2 * r + 1] = hi;
    }
  }
}

template <class Unpack, int Lanes, class V>
inline void interleave_in_lanes(V* rows) {
  V tmp[Lanes];
  interleave_stage<Unpack, Lanes, 2, 8>(rows, tmp);
  interleave_stage<Unpack, Lanes, 4, 16>(tmp, rows);
  interleave_stage<Unpack, Lanes, 8, 32>(rows, tmp);
  interleave_stage<Unpack, Lanes, 16, 64>(tmp, rows);
}

}  // namespace
