// Chain code: the eight steps between neighbouring pixels and their codes.
#pragma once

namespace craq {
// Codes 0..7 run clockwise from north as (row, column) steps: 0 (-1,0),
// 1 (-1,+1), 2 (0,+1), 3 (+1,+1), 4 (+1,0), 5 (+1,-1), 6 (0,-1), 7 (-1,-1);
// rows grow downwards, even codes are axial, odd codes diagonal.

// offset[0], offset[1] = row and column step of code (0..7; others: (0, 0)).
void neighbourhoodOperation(int code, int *offset);
// The code of a (row, column) step of the table; any other offset gives -1.
int neighbourhoodOperation2(const int *offset);

}  // namespace craq
