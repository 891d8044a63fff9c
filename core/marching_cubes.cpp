#include "core/marching_cubes.h"

#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "core/progress.h"

namespace vorrel {
namespace {

constexpr uint32_t kNoVertex = 0xFFFFFFFFu;

constexpr int kCornerOffset[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                     {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};

struct CubeEdge {
  int first, second;   // corners; interpolation runs from first to second
  int offset[3];       // lower end relative to the cube's lowest corner
  int axis;
};

constexpr CubeEdge kEdges[12] = {
    {0, 1, {0, 0, 0}, 0}, {1, 2, {1, 0, 0}, 1}, {2, 3, {0, 1, 0}, 0}, {3, 0, {0, 0, 0}, 1},
    {4, 5, {0, 0, 1}, 0}, {5, 6, {1, 0, 1}, 1}, {6, 7, {0, 1, 1}, 0}, {7, 4, {0, 0, 1}, 1},
    {0, 4, {0, 0, 0}, 2}, {1, 5, {1, 0, 0}, 2}, {2, 6, {1, 1, 0}, 2}, {3, 7, {0, 1, 0}, 2}};

constexpr std::array<uint16_t, 256> make_edge_table() {
  std::array<uint16_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    for (int e = 0; e < 12; ++e) {
      if (((c >> kEdges[e].first) & 1) != ((c >> kEdges[e].second) & 1)) table[c] |= uint16_t(1u << e);
    }
  }
  return table;
}

constexpr std::array<uint16_t, 256> kEdgeTable = make_edge_table();

constexpr std::array<std::array<int8_t, 16>, 256> kTriangleTable = {{
    {{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 3, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 1, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 8, 3, 9, 8, 1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 3, 1, 2, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 2, 10, 0, 2, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 8, 3, 2, 10, 8, 10, 9, 8, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 11, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 11, 2, 8, 11, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 9, 0, 2, 3, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 11, 2, 1, 9, 11, 9, 8, 11, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 10, 1, 11, 10, 3, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 10, 1, 0, 8, 10, 8, 11, 10, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 9, 0, 3, 11, 9, 11, 10, 9, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 8, 10, 10, 8, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 7, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 3, 0, 7, 3, 4, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 1, 9, 8, 4, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 1, 9, 4, 7, 1, 7, 3, 1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 10, 8, 4, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 4, 7, 3, 0, 4, 1, 2, 10, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 2, 10, 9, 0, 2, 8, 4, 7, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 10, 9, 2, 9, 7, 2, 7, 3, 7, 9, 4, -1, -1, -1, -1}},
    {{8, 4, 7, 3, 11, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{11, 4, 7, 11, 2, 4, 2, 0, 4, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 0, 1, 8, 4, 7, 2, 3, 11, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 7, 11, 9, 4, 11, 9, 11, 2, 9, 2, 1, -1, -1, -1, -1}},
    {{3, 10, 1, 3, 11, 10, 7, 8, 4, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 11, 10, 1, 4, 11, 1, 0, 4, 7, 11, 4, -1, -1, -1, -1}},
    {{4, 7, 8, 9, 0, 11, 9, 11, 10, 11, 0, 3, -1, -1, -1, -1}},
    {{4, 7, 11, 4, 11, 9, 9, 11, 10, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 5, 4, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 5, 4, 0, 8, 3, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 5, 4, 1, 5, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{8, 5, 4, 8, 3, 5, 3, 1, 5, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 10, 9, 5, 4, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 0, 8, 1, 2, 10, 4, 9, 5, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 2, 10, 5, 4, 2, 4, 0, 2, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 10, 5, 3, 2, 5, 3, 5, 4, 3, 4, 8, -1, -1, -1, -1}},
    {{9, 5, 4, 2, 3, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 11, 2, 0, 8, 11, 4, 9, 5, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 5, 4, 0, 1, 5, 2, 3, 11, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 1, 5, 2, 5, 8, 2, 8, 11, 4, 8, 5, -1, -1, -1, -1}},
    {{10, 3, 11, 10, 1, 3, 9, 5, 4, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 9, 5, 0, 8, 1, 8, 10, 1, 8, 11, 10, -1, -1, -1, -1}},
    {{5, 4, 0, 5, 0, 11, 5, 11, 10, 11, 0, 3, -1, -1, -1, -1}},
    {{5, 4, 8, 5, 8, 10, 10, 8, 11, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 7, 8, 5, 7, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 3, 0, 9, 5, 3, 5, 7, 3, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 7, 8, 0, 1, 7, 1, 5, 7, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 5, 3, 3, 5, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 7, 8, 9, 5, 7, 10, 1, 2, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 1, 2, 9, 5, 0, 5, 3, 0, 5, 7, 3, -1, -1, -1, -1}},
    {{8, 0, 2, 8, 2, 5, 8, 5, 7, 10, 5, 2, -1, -1, -1, -1}},
    {{2, 10, 5, 2, 5, 3, 3, 5, 7, -1, -1, -1, -1, -1, -1, -1}},
    {{7, 9, 5, 7, 8, 9, 3, 11, 2, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 5, 7, 9, 7, 2, 9, 2, 0, 2, 7, 11, -1, -1, -1, -1}},
    {{2, 3, 11, 0, 1, 8, 1, 7, 8, 1, 5, 7, -1, -1, -1, -1}},
    {{11, 2, 1, 11, 1, 7, 7, 1, 5, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 5, 8, 8, 5, 7, 10, 1, 3, 10, 3, 11, -1, -1, -1, -1}},
    {{5, 7, 0, 5, 0, 9, 7, 11, 0, 1, 0, 10, 11, 10, 0, -1}},
    {{11, 10, 0, 11, 0, 3, 10, 5, 0, 8, 0, 7, 5, 7, 0, -1}},
    {{11, 10, 5, 7, 11, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 6, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 3, 5, 10, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 0, 1, 5, 10, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 8, 3, 1, 9, 8, 5, 10, 6, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 6, 5, 2, 6, 1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 6, 5, 1, 2, 6, 3, 0, 8, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 6, 5, 9, 0, 6, 0, 2, 6, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 9, 8, 5, 8, 2, 5, 2, 6, 3, 2, 8, -1, -1, -1, -1}},
    {{2, 3, 11, 10, 6, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{11, 0, 8, 11, 2, 0, 10, 6, 5, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 1, 9, 2, 3, 11, 5, 10, 6, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 10, 6, 1, 9, 2, 9, 11, 2, 9, 8, 11, -1, -1, -1, -1}},
    {{6, 3, 11, 6, 5, 3, 5, 1, 3, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 11, 0, 11, 5, 0, 5, 1, 5, 11, 6, -1, -1, -1, -1}},
    {{3, 11, 6, 0, 3, 6, 0, 6, 5, 0, 5, 9, -1, -1, -1, -1}},
    {{6, 5, 9, 6, 9, 11, 11, 9, 8, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 10, 6, 4, 7, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 3, 0, 4, 7, 3, 6, 5, 10, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 9, 0, 5, 10, 6, 8, 4, 7, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 6, 5, 1, 9, 7, 1, 7, 3, 7, 9, 4, -1, -1, -1, -1}},
    {{6, 1, 2, 6, 5, 1, 4, 7, 8, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 5, 5, 2, 6, 3, 0, 4, 3, 4, 7, -1, -1, -1, -1}},
    {{8, 4, 7, 9, 0, 5, 0, 6, 5, 0, 2, 6, -1, -1, -1, -1}},
    {{7, 3, 9, 7, 9, 4, 3, 2, 9, 5, 9, 6, 2, 6, 9, -1}},
    {{3, 11, 2, 7, 8, 4, 10, 6, 5, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 10, 6, 4, 7, 2, 4, 2, 0, 2, 7, 11, -1, -1, -1, -1}},
    {{0, 1, 9, 4, 7, 8, 2, 3, 11, 5, 10, 6, -1, -1, -1, -1}},
    {{9, 2, 1, 9, 11, 2, 9, 4, 11, 7, 11, 4, 5, 10, 6, -1}},
    {{8, 4, 7, 3, 11, 5, 3, 5, 1, 5, 11, 6, -1, -1, -1, -1}},
    {{5, 1, 11, 5, 11, 6, 1, 0, 11, 7, 11, 4, 0, 4, 11, -1}},
    {{0, 5, 9, 0, 6, 5, 0, 3, 6, 11, 6, 3, 8, 4, 7, -1}},
    {{6, 5, 9, 6, 9, 11, 4, 7, 9, 7, 11, 9, -1, -1, -1, -1}},
    {{10, 4, 9, 6, 4, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 10, 6, 4, 9, 10, 0, 8, 3, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 0, 1, 10, 6, 0, 6, 4, 0, -1, -1, -1, -1, -1, -1, -1}},
    {{8, 3, 1, 8, 1, 6, 8, 6, 4, 6, 1, 10, -1, -1, -1, -1}},
    {{1, 4, 9, 1, 2, 4, 2, 6, 4, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 0, 8, 1, 2, 9, 2, 4, 9, 2, 6, 4, -1, -1, -1, -1}},
    {{0, 2, 4, 4, 2, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{8, 3, 2, 8, 2, 4, 4, 2, 6, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 4, 9, 10, 6, 4, 11, 2, 3, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 2, 2, 8, 11, 4, 9, 10, 4, 10, 6, -1, -1, -1, -1}},
    {{3, 11, 2, 0, 1, 6, 0, 6, 4, 6, 1, 10, -1, -1, -1, -1}},
    {{6, 4, 1, 6, 1, 10, 4, 8, 1, 2, 1, 11, 8, 11, 1, -1}},
    {{9, 6, 4, 9, 3, 6, 9, 1, 3, 11, 6, 3, -1, -1, -1, -1}},
    {{8, 11, 1, 8, 1, 0, 11, 6, 1, 9, 1, 4, 6, 4, 1, -1}},
    {{3, 11, 6, 3, 6, 0, 0, 6, 4, -1, -1, -1, -1, -1, -1, -1}},
    {{6, 4, 8, 11, 6, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{7, 10, 6, 7, 8, 10, 8, 9, 10, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 7, 3, 0, 10, 7, 0, 9, 10, 6, 7, 10, -1, -1, -1, -1}},
    {{10, 6, 7, 1, 10, 7, 1, 7, 8, 1, 8, 0, -1, -1, -1, -1}},
    {{10, 6, 7, 10, 7, 1, 1, 7, 3, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 6, 1, 6, 8, 1, 8, 9, 8, 6, 7, -1, -1, -1, -1}},
    {{2, 6, 9, 2, 9, 1, 6, 7, 9, 0, 9, 3, 7, 3, 9, -1}},
    {{7, 8, 0, 7, 0, 6, 6, 0, 2, -1, -1, -1, -1, -1, -1, -1}},
    {{7, 3, 2, 6, 7, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 3, 11, 10, 6, 8, 10, 8, 9, 8, 6, 7, -1, -1, -1, -1}},
    {{2, 0, 7, 2, 7, 11, 0, 9, 7, 6, 7, 10, 9, 10, 7, -1}},
    {{1, 8, 0, 1, 7, 8, 1, 10, 7, 6, 7, 10, 2, 3, 11, -1}},
    {{11, 2, 1, 11, 1, 7, 10, 6, 1, 6, 7, 1, -1, -1, -1, -1}},
    {{8, 9, 6, 8, 6, 7, 9, 1, 6, 11, 6, 3, 1, 3, 6, -1}},
    {{0, 9, 1, 11, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{7, 8, 0, 7, 0, 6, 3, 11, 0, 11, 6, 0, -1, -1, -1, -1}},
    {{7, 11, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{7, 6, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 0, 8, 11, 7, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 1, 9, 11, 7, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{8, 1, 9, 8, 3, 1, 11, 7, 6, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 1, 2, 6, 11, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 10, 3, 0, 8, 6, 11, 7, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 9, 0, 2, 10, 9, 6, 11, 7, -1, -1, -1, -1, -1, -1, -1}},
    {{6, 11, 7, 2, 10, 3, 10, 8, 3, 10, 9, 8, -1, -1, -1, -1}},
    {{7, 2, 3, 6, 2, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{7, 0, 8, 7, 6, 0, 6, 2, 0, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 7, 6, 2, 3, 7, 0, 1, 9, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 6, 2, 1, 8, 6, 1, 9, 8, 8, 7, 6, -1, -1, -1, -1}},
    {{10, 7, 6, 10, 1, 7, 1, 3, 7, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 7, 6, 1, 7, 10, 1, 8, 7, 1, 0, 8, -1, -1, -1, -1}},
    {{0, 3, 7, 0, 7, 10, 0, 10, 9, 6, 10, 7, -1, -1, -1, -1}},
    {{7, 6, 10, 7, 10, 8, 8, 10, 9, -1, -1, -1, -1, -1, -1, -1}},
    {{6, 8, 4, 11, 8, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 6, 11, 3, 0, 6, 0, 4, 6, -1, -1, -1, -1, -1, -1, -1}},
    {{8, 6, 11, 8, 4, 6, 9, 0, 1, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 4, 6, 9, 6, 3, 9, 3, 1, 11, 3, 6, -1, -1, -1, -1}},
    {{6, 8, 4, 6, 11, 8, 2, 10, 1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 10, 3, 0, 11, 0, 6, 11, 0, 4, 6, -1, -1, -1, -1}},
    {{4, 11, 8, 4, 6, 11, 0, 2, 9, 2, 10, 9, -1, -1, -1, -1}},
    {{10, 9, 3, 10, 3, 2, 9, 4, 3, 11, 3, 6, 4, 6, 3, -1}},
    {{8, 2, 3, 8, 4, 2, 4, 6, 2, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 4, 2, 4, 6, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 9, 0, 2, 3, 4, 2, 4, 6, 4, 3, 8, -1, -1, -1, -1}},
    {{1, 9, 4, 1, 4, 2, 2, 4, 6, -1, -1, -1, -1, -1, -1, -1}},
    {{8, 1, 3, 8, 6, 1, 8, 4, 6, 6, 10, 1, -1, -1, -1, -1}},
    {{10, 1, 0, 10, 0, 6, 6, 0, 4, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 6, 3, 4, 3, 8, 6, 10, 3, 0, 3, 9, 10, 9, 3, -1}},
    {{10, 9, 4, 6, 10, 4, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 9, 5, 7, 6, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 3, 4, 9, 5, 11, 7, 6, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 0, 1, 5, 4, 0, 7, 6, 11, -1, -1, -1, -1, -1, -1, -1}},
    {{11, 7, 6, 8, 3, 4, 3, 5, 4, 3, 1, 5, -1, -1, -1, -1}},
    {{9, 5, 4, 10, 1, 2, 7, 6, 11, -1, -1, -1, -1, -1, -1, -1}},
    {{6, 11, 7, 1, 2, 10, 0, 8, 3, 4, 9, 5, -1, -1, -1, -1}},
    {{7, 6, 11, 5, 4, 10, 4, 2, 10, 4, 0, 2, -1, -1, -1, -1}},
    {{3, 4, 8, 3, 5, 4, 3, 2, 5, 10, 5, 2, 11, 7, 6, -1}},
    {{7, 2, 3, 7, 6, 2, 5, 4, 9, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 5, 4, 0, 8, 6, 0, 6, 2, 6, 8, 7, -1, -1, -1, -1}},
    {{3, 6, 2, 3, 7, 6, 1, 5, 0, 5, 4, 0, -1, -1, -1, -1}},
    {{6, 2, 8, 6, 8, 7, 2, 1, 8, 4, 8, 5, 1, 5, 8, -1}},
    {{9, 5, 4, 10, 1, 6, 1, 7, 6, 1, 3, 7, -1, -1, -1, -1}},
    {{1, 6, 10, 1, 7, 6, 1, 0, 7, 8, 7, 0, 9, 5, 4, -1}},
    {{4, 0, 10, 4, 10, 5, 0, 3, 10, 6, 10, 7, 3, 7, 10, -1}},
    {{7, 6, 10, 7, 10, 8, 5, 4, 10, 4, 8, 10, -1, -1, -1, -1}},
    {{6, 9, 5, 6, 11, 9, 11, 8, 9, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 6, 11, 0, 6, 3, 0, 5, 6, 0, 9, 5, -1, -1, -1, -1}},
    {{0, 11, 8, 0, 5, 11, 0, 1, 5, 5, 6, 11, -1, -1, -1, -1}},
    {{6, 11, 3, 6, 3, 5, 5, 3, 1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 10, 9, 5, 11, 9, 11, 8, 11, 5, 6, -1, -1, -1, -1}},
    {{0, 11, 3, 0, 6, 11, 0, 9, 6, 5, 6, 9, 1, 2, 10, -1}},
    {{11, 8, 5, 11, 5, 6, 8, 0, 5, 10, 5, 2, 0, 2, 5, -1}},
    {{6, 11, 3, 6, 3, 5, 2, 10, 3, 10, 5, 3, -1, -1, -1, -1}},
    {{5, 8, 9, 5, 2, 8, 5, 6, 2, 3, 8, 2, -1, -1, -1, -1}},
    {{9, 5, 6, 9, 6, 0, 0, 6, 2, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 5, 8, 1, 8, 0, 5, 6, 8, 3, 8, 2, 6, 2, 8, -1}},
    {{1, 5, 6, 2, 1, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 3, 6, 1, 6, 10, 3, 8, 6, 5, 6, 9, 8, 9, 6, -1}},
    {{10, 1, 0, 10, 0, 6, 9, 5, 0, 5, 6, 0, -1, -1, -1, -1}},
    {{0, 3, 8, 5, 6, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 5, 6, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{11, 5, 10, 7, 5, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{11, 5, 10, 11, 7, 5, 8, 3, 0, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 11, 7, 5, 10, 11, 1, 9, 0, -1, -1, -1, -1, -1, -1, -1}},
    {{10, 7, 5, 10, 11, 7, 9, 8, 1, 8, 3, 1, -1, -1, -1, -1}},
    {{11, 1, 2, 11, 7, 1, 7, 5, 1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 3, 1, 2, 7, 1, 7, 5, 7, 2, 11, -1, -1, -1, -1}},
    {{9, 7, 5, 9, 2, 7, 9, 0, 2, 2, 11, 7, -1, -1, -1, -1}},
    {{7, 5, 2, 7, 2, 11, 5, 9, 2, 3, 2, 8, 9, 8, 2, -1}},
    {{2, 5, 10, 2, 3, 5, 3, 7, 5, -1, -1, -1, -1, -1, -1, -1}},
    {{8, 2, 0, 8, 5, 2, 8, 7, 5, 10, 2, 5, -1, -1, -1, -1}},
    {{9, 0, 1, 5, 10, 3, 5, 3, 7, 3, 10, 2, -1, -1, -1, -1}},
    {{9, 8, 2, 9, 2, 1, 8, 7, 2, 10, 2, 5, 7, 5, 2, -1}},
    {{1, 3, 5, 3, 7, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 7, 0, 7, 1, 1, 7, 5, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 0, 3, 9, 3, 5, 5, 3, 7, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 8, 7, 5, 9, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 8, 4, 5, 10, 8, 10, 11, 8, -1, -1, -1, -1, -1, -1, -1}},
    {{5, 0, 4, 5, 11, 0, 5, 10, 11, 11, 3, 0, -1, -1, -1, -1}},
    {{0, 1, 9, 8, 4, 10, 8, 10, 11, 10, 4, 5, -1, -1, -1, -1}},
    {{10, 11, 4, 10, 4, 5, 11, 3, 4, 9, 4, 1, 3, 1, 4, -1}},
    {{2, 5, 1, 2, 8, 5, 2, 11, 8, 4, 5, 8, -1, -1, -1, -1}},
    {{0, 4, 11, 0, 11, 3, 4, 5, 11, 2, 11, 1, 5, 1, 11, -1}},
    {{0, 2, 5, 0, 5, 9, 2, 11, 5, 4, 5, 8, 11, 8, 5, -1}},
    {{9, 4, 5, 2, 11, 3, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 5, 10, 3, 5, 2, 3, 4, 5, 3, 8, 4, -1, -1, -1, -1}},
    {{5, 10, 2, 5, 2, 4, 4, 2, 0, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 10, 2, 3, 5, 10, 3, 8, 5, 4, 5, 8, 0, 1, 9, -1}},
    {{5, 10, 2, 5, 2, 4, 1, 9, 2, 9, 4, 2, -1, -1, -1, -1}},
    {{8, 4, 5, 8, 5, 3, 3, 5, 1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 4, 5, 1, 0, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{8, 4, 5, 8, 5, 3, 9, 0, 5, 0, 3, 5, -1, -1, -1, -1}},
    {{9, 4, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 11, 7, 4, 9, 11, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 8, 3, 4, 9, 7, 9, 11, 7, 9, 10, 11, -1, -1, -1, -1}},
    {{1, 10, 11, 1, 11, 4, 1, 4, 0, 7, 4, 11, -1, -1, -1, -1}},
    {{3, 1, 4, 3, 4, 8, 1, 10, 4, 7, 4, 11, 10, 11, 4, -1}},
    {{4, 11, 7, 9, 11, 4, 9, 2, 11, 9, 1, 2, -1, -1, -1, -1}},
    {{9, 7, 4, 9, 11, 7, 9, 1, 11, 2, 11, 1, 0, 8, 3, -1}},
    {{11, 7, 4, 11, 4, 2, 2, 4, 0, -1, -1, -1, -1, -1, -1, -1}},
    {{11, 7, 4, 11, 4, 2, 8, 3, 4, 3, 2, 4, -1, -1, -1, -1}},
    {{2, 9, 10, 2, 7, 9, 2, 3, 7, 7, 4, 9, -1, -1, -1, -1}},
    {{9, 10, 7, 9, 7, 4, 10, 2, 7, 8, 7, 0, 2, 0, 7, -1}},
    {{3, 7, 10, 3, 10, 2, 7, 4, 10, 1, 10, 0, 4, 0, 10, -1}},
    {{1, 10, 2, 8, 7, 4, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 9, 1, 4, 1, 7, 7, 1, 3, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 9, 1, 4, 1, 7, 0, 8, 1, 8, 7, 1, -1, -1, -1, -1}},
    {{4, 0, 3, 7, 4, 3, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{4, 8, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 10, 8, 10, 11, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 0, 9, 3, 9, 11, 11, 9, 10, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 1, 10, 0, 10, 8, 8, 10, 11, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 1, 10, 11, 3, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 2, 11, 1, 11, 9, 9, 11, 8, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 0, 9, 3, 9, 11, 1, 2, 9, 2, 11, 9, -1, -1, -1, -1}},
    {{0, 2, 11, 8, 0, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{3, 2, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 3, 8, 2, 8, 10, 10, 8, 9, -1, -1, -1, -1, -1, -1, -1}},
    {{9, 10, 2, 0, 9, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{2, 3, 8, 2, 8, 10, 0, 1, 8, 1, 10, 8, -1, -1, -1, -1}},
    {{1, 10, 2, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{1, 3, 8, 9, 1, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 9, 1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{0, 3, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
    {{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}},
}};

struct SlabSurface {
  std::vector<Vec3> positions;
  std::vector<EdgeKey> keys;
  std::vector<Triangle> triangles;
};

// Slot of a lattice edge among the edges one slab can cut: x and y edges of the
// planes z (0) and z + 1 (1), then the z edges between them.
uint64_t slab_edge_slot(const EdgeKey& key, uint64_t nx, uint64_t ny, uint64_t z) {
  const uint64_t column = key.x + nx * key.y;
  if (key.axis == 2) return 4 * nx * ny + column;
  const uint64_t plane = key.z == z ? 0 : 1;
  return (plane * 2 + key.axis) * nx * ny + column;
}

// Per-task scratch of the slab extraction: the vertex of every edge cut so far
// in the current slab (kNoVertex elsewhere; reset after each slab through the
// slab's own key list) and, per lattice column (x, y), bit 0 = the sample at z
// is inside, bit 1 = the sample at z + 1 is inside.
struct SlabScratch {
  std::vector<uint32_t> edge_vertex;
  std::vector<uint8_t> inside_bits;
};

// The sampler is copied so that the byte stores cannot alias its members and
// the loop runs without reloading them.
template <class Sampler>
void mark_inside(Sampler sampler, uint64_t nx, uint64_t ny, uint64_t z, std::vector<uint8_t>& bits) {
  const uint64_t plane = nx * ny;
  bits.resize(plane);
  uint8_t* out = bits.data();
  const uint64_t below = plane * z, above = below + plane;
  for (uint64_t i = 0; i < plane; ++i) {
    out[i] = static_cast<uint8_t>(sampler.inside(below + i) | (sampler.inside(above + i) << 1));
  }
}

// Case of the cube at (x, y) from the inside bits of its four columns; the same
// value `sampler.load` computes from the corner samples.
inline uint32_t case_from_bits(const uint8_t* bits, uint64_t nx, uint64_t x, uint64_t y) {
  const uint32_t c0 = bits[x + nx * y], c1 = bits[x + 1 + nx * y];
  const uint32_t c2 = bits[x + 1 + nx * (y + 1)], c3 = bits[x + nx * (y + 1)];
  return (c0 & 1) | (c1 & 1) << 1 | (c2 & 1) << 2 | (c3 & 1) << 3 | (c0 >> 1) << 4 | (c1 >> 1) << 5 |
         (c2 >> 1) << 6 | (c3 >> 1) << 7;
}

// Extracts the cubes between sample planes z and z + 1. `sampler.inside` tells
// the side of one sample, so cubes without a crossing are skipped after one
// pass over the two planes; for the others `sampler.load` fills the cube's
// corner data and `sampler.vertex` places the vertex of one cut edge from it.
// Vertices are numbered in order of first appearance.
template <class Sampler>
void extract_slab(const Sampler& sampler, uint64_t nx, uint64_t ny, uint64_t z, SlabScratch& scratch,
                  SlabSurface& out) {
  scratch.edge_vertex.resize(5 * nx * ny, kNoVertex);
  uint32_t* slots = scratch.edge_vertex.data();
  mark_inside(sampler, nx, ny, z, scratch.inside_bits);
  const uint8_t* bits = scratch.inside_bits.data();
  typename Sampler::Corners corners;
  for (uint64_t y = 0; y + 1 < ny; ++y) {
    for (uint64_t x = 0; x + 1 < nx; ++x) {
      const uint32_t quick_case = case_from_bits(bits, nx, x, y);
      if (quick_case == 0 || quick_case == 255) continue;
      const uint32_t cube_case = sampler.load(x, y, z, corners);
      const uint16_t cut = kEdgeTable[cube_case];
      uint32_t edge_vertex[12];
      for (int e = 0; e < 12; ++e) {
        edge_vertex[e] = kNoVertex;
        if (!((cut >> e) & 1)) continue;
        const CubeEdge& edge = kEdges[e];
        const EdgeKey key{static_cast<uint32_t>(x + edge.offset[0]), static_cast<uint32_t>(y + edge.offset[1]),
                          static_cast<uint32_t>(z + edge.offset[2]), static_cast<uint8_t>(edge.axis)};
        uint32_t& slot = slots[slab_edge_slot(key, nx, ny, z)];
        if (slot == kNoVertex) {
          slot = static_cast<uint32_t>(out.positions.size());
          out.positions.push_back(sampler.vertex(x, y, z, e, corners));
          out.keys.push_back(key);
        }
        edge_vertex[e] = slot;
      }
      const std::array<int8_t, 16>& row = kTriangleTable[cube_case];
      for (int i = 0; row[i] >= 0; i += 3) {
        out.triangles.push_back({edge_vertex[row[i]], edge_vertex[row[i + 2]], edge_vertex[row[i + 1]]});
      }
    }
  }
  for (const EdgeKey& key : out.keys) slots[slab_edge_slot(key, nx, ny, z)] = kNoVertex;
}

// Welds the slabs in ascending z: a vertex whose edge was already met keeps the
// index of its first appearance. Only x and y edges of plane z can have been
// met before slab z, as top edges of slab z − 1, so one table of the previous
// slab's top edges, indexed like the slab's own slots, finds every repeat.
Mesh merge_slabs(const std::vector<SlabSurface>& slabs, uint64_t nx, uint64_t ny) {
  size_t vertex_total = 0, triangle_total = 0;
  for (const SlabSurface& s : slabs) {
    vertex_total += s.positions.size();
    triangle_total += s.triangles.size();
  }
  Mesh mesh;
  mesh.positions.reserve(vertex_total);
  mesh.indices.reserve(triangle_total);
  const uint64_t plane_edges = 2 * nx * ny;
  std::vector<uint32_t> below(plane_edges, kNoVertex), above(plane_edges, kNoVertex);
  std::vector<uint32_t> remap;
  for (uint64_t z = 0; z < slabs.size(); ++z) {
    const SlabSurface& s = slabs[z];
    remap.resize(s.positions.size());
    for (size_t i = 0; i < s.positions.size(); ++i) {
      const EdgeKey& key = s.keys[i];
      const uint64_t column = key.x + nx * key.y;
      if (key.axis != 2 && key.z == z && below[key.axis * nx * ny + column] != kNoVertex) {
        remap[i] = below[key.axis * nx * ny + column];
        continue;
      }
      remap[i] = static_cast<uint32_t>(mesh.positions.size());
      mesh.positions.push_back(s.positions[i]);
      if (key.axis != 2 && key.z != z) above[key.axis * nx * ny + column] = remap[i];
    }
    for (const Triangle& t : s.triangles) mesh.indices.push_back({remap[t[0]], remap[t[1]], remap[t[2]]});
    if (z > 0) {
      for (const EdgeKey& key : slabs[z - 1].keys) {
        if (key.axis != 2 && key.z == z) below[key.axis * nx * ny + key.x + nx * key.y] = kNoVertex;
      }
    }
    std::swap(below, above);
  }
  return mesh;
}

template <class Sampler>
Mesh extract_surface(const Sampler& sampler, uint64_t nx, uint64_t ny, uint64_t nz) {
  if (nx < 2 || ny < 2 || nz < 2) return {};
  auto stage = StageProgress::start("marching cubes", 0);
  std::vector<SlabSurface> slabs(nz - 1);
  parallel_for_chunks(0, nz - 1, [&](size_t lo, size_t hi) {
    SlabScratch scratch;
    for (size_t z = lo; z < hi; ++z) extract_slab(sampler, nx, ny, z, scratch, slabs[z]);
  });
  Mesh mesh = merge_slabs(slabs, nx, ny);
  stage.finish();
  return mesh;
}

struct VoxelSampler {
  struct Corners {};
  const VoxelGrid& grid;

  uint32_t inside(uint64_t i) const { return is_solid(grid.cells[i]) ? 1u : 0u; }

  uint32_t load(uint64_t x, uint64_t y, uint64_t z, Corners&) const {
    uint32_t cube_case = 0;
    for (int c = 0; c < 8; ++c) {
      const uint64_t i = (x + kCornerOffset[c][0]) + grid.nx * ((y + kCornerOffset[c][1]) + grid.ny * (z + kCornerOffset[c][2]));
      if (is_solid(grid.cells[i])) cube_case |= 1u << c;
    }
    return cube_case;
  }

  Vec3 vertex(uint64_t x, uint64_t y, uint64_t z, int e, const Corners&) const {
    const CubeEdge& edge = kEdges[e];
    const double lattice[3] = {static_cast<double>(x + edge.offset[0]), static_cast<double>(y + edge.offset[1]),
                               static_cast<double>(z + edge.offset[2])};
    Vec3 p;
    for (int axis = 0; axis < 3; ++axis) {
      p[axis] = grid.origin[axis] + grid.cell_size * (lattice[axis] + (edge.axis == axis ? 0.5 : 0.0));
    }
    return p;
  }
};

struct FieldSampler {
  struct Corners {
    float v[8];
  };
  const float* values;
  uint64_t nx, ny;
  Vec3 origin;
  double cell_size;
  float iso;

  // The same test as `load` applies to each corner.
  uint32_t inside(uint64_t i) const { return values[i] - iso < 0.0f ? 1u : 0u; }

  uint32_t load(uint64_t x, uint64_t y, uint64_t z, Corners& corners) const {
    uint32_t cube_case = 0;
    for (int c = 0; c < 8; ++c) {
      const uint64_t i = (x + kCornerOffset[c][0]) + nx * ((y + kCornerOffset[c][1]) + ny * (z + kCornerOffset[c][2]));
      corners.v[c] = values[i] - iso;
      if (corners.v[c] < 0.0f) cube_case |= 1u << c;
    }
    return cube_case;
  }

  // Linear interpolation of the level crossing, kept 1 % of an edge away from
  // both lattice points so no vertex coincides with a sample.
  Vec3 vertex(uint64_t x, uint64_t y, uint64_t z, int e, const Corners& corners) const {
    const CubeEdge& edge = kEdges[e];
    const float va = corners.v[edge.first], vb = corners.v[edge.second];
    double t = std::fabs(vb - va) <= 1e-10f ? 0.5 : static_cast<double>(-va / (vb - va));
    if (t < 0.01) t = 0.01;
    if (t > 0.99) t = 0.99;
    const int* off_a = kCornerOffset[edge.first];
    const int* off_b = kCornerOffset[edge.second];
    const uint64_t cube[3] = {x, y, z};
    Vec3 p;
    for (int axis = 0; axis < 3; ++axis) {
      const double along = static_cast<double>(off_b[axis] - off_a[axis]) * t;
      p[axis] = origin[axis] + cell_size * (((static_cast<double>(cube[axis]) + 0.5) + off_a[axis]) + along);
    }
    return p;
  }
};

// Whether an array of `length` samples holds every sample of the grid.
bool covers_grid(uint64_t length, uint64_t nx, uint64_t ny, uint64_t nz) {
  const std::optional<uint64_t> count = checked_cell_count(nx, ny, nz);
  return count && *count <= length;
}

}  // namespace

const std::array<uint16_t, 256>& marching_cubes_edge_table() { return kEdgeTable; }
const std::array<std::array<int8_t, 16>, 256>& marching_cubes_triangle_table() { return kTriangleTable; }

Mesh extract_voxel_surface(const VoxelGrid& grid) {
  if (!covers_grid(grid.cells.size(), grid.nx, grid.ny, grid.nz)) return {};
  return extract_surface(VoxelSampler{grid}, grid.nx, grid.ny, grid.nz);
}

Mesh extract_iso_surface(std::span<const float> values, uint64_t nx, uint64_t ny, uint64_t nz, Vec3 origin,
                         double cell_size, double iso) {
  if (!covers_grid(values.size(), nx, ny, nz)) return {};
  const FieldSampler sampler{values.data(), nx, ny, origin, cell_size, static_cast<float>(iso)};
  return extract_surface(sampler, nx, ny, nz);
}

}  // namespace vorrel
