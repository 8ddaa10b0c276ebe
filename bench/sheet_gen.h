// Generates sheet content of a given number of cells for benchmarks: 100 columns per row, a mix of
// decimal numbers, integers, short strings and styled cells, as a stored sheet holds them.
#pragma once

#include <json/value.h>

#include <random>
#include <string>

namespace zoltsh::bench {

inline Json::Value GenerateSheet(int cells, unsigned seed = 1) {
  std::mt19937 rng(seed);
  const int cols = 100;
  const int rows = (cells + cols - 1) / cols;
  Json::Value sheet(Json::objectValue);
  sheet["rowCount"] = rows;
  sheet["colCount"] = cols;
  Json::Value& grid = sheet["cells"] = Json::Value(Json::objectValue);
  int made = 0;
  for (int r = 0; r < rows && made < cells; ++r) {
    Json::Value& row = grid[std::to_string(r)] = Json::Value(Json::objectValue);
    for (int c = 0; c < cols && made < cells; ++c, ++made) {
      Json::Value cell(Json::objectValue);
      switch (rng() % 8) {
        case 0:
        case 1:
        case 2:
          cell["v"] = static_cast<double>(rng() % 1000000) / 100.0;
          break;
        case 3:
        case 4:
          cell["v"] = static_cast<int>(rng() % 100000);
          break;
        case 5:
          cell["v"] = "item " + std::to_string(rng() % 1000);
          break;
        case 6:
          cell["v"] = static_cast<double>(rng() % 1000) / 7.0;
          break;
        default:
          cell["v"] = "Total";
          cell["m"]["s"]["fontWeight"] = "bold";
          cell["m"]["s"]["color"] = "#336699";
      }
      row[std::to_string(c)] = std::move(cell);
    }
  }
  return sheet;
}

}  // namespace zoltsh::bench
