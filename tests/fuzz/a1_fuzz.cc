// Fuzzes A1 parsing and the range arithmetic: any text and any numbers give a defined range, and a
// parsed block prints back to text that parses to the same range.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "snapshot/range.h"

using zoltsh::utils::Coord;
using zoltsh::utils::Range;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int nums[4] = {0, 0, 0, 0};
  size_t head = size < sizeof(nums) ? size : sizeof(nums);
  std::memcpy(nums, data, head);
  std::string text(reinterpret_cast<const char*>(data) + head, size - head);

  Range r(text, nums[0], nums[1]);
  std::string printed = r.toString();
  if (r.kind == Range::kBlock && r.start.row >= 0 && r.end.row >= 0 && r.start.col >= 0 &&
      r.end.col >= 0 && r.start.row < 2147483646 && r.end.row < 2147483646) {
    if (!(Range(printed, nums[0], nums[1]) == r)) __builtin_trap();
  }
  Range other(text, nums[1], nums[0]);
  r.Overlap(other);
  r.IsNeighbor(other);
  r.GetWidth();
  r.GetHeight();
  Range a = r, b = r;
  a.InsertRowCol(&Coord::row, nums[2], nums[3]);
  b.RemoveRowCol(&Coord::col, nums[2], nums[3]);
  a.ShiftRange(&Coord::col, nums[3]);
  a.RepairRange("left", b);
  std::vector<Range> list = {a, b, other};
  zoltsh::utils::validation::RemoveValidationRange(list, r);
  zoltsh::utils::numToAlpha(nums[2], true);
  zoltsh::utils::alphaToNum(text);
  zoltsh::utils::digitToNum(text);
  std::string left, right;
  zoltsh::utils::splitRange(text.c_str(), left, right);
  return 0;
}
