#pragma once

class QTableWidget;

namespace mdlOVSqlRestore {

// The display options that PrepareGrid passes on to the grid.
struct GridOptions
{
    bool showGrid = true;           // lines between the cells
    bool wordWrap = false;          // long texts wrap inside their cells
    bool rowSelection = true;       // a click selects the whole row
    bool singleSelection = true;    // at most one row or cell is selected
    bool resizableColumns = true;   // the user may drag the column borders
    bool alternatingRows = false;   // every other row in the alternate colour
    bool scrollBarsAsNeeded = true; // scroll bars only when the cells do not fit
};

// Prepares grid: reduces it to one row and one column, then gives it rows
// rows and cols columns, of which headerRows rows and headerCols columns are
// headers (a Qt table shows at most one header row and one header column:
// more header rows or columns than one count as one), and the options.
void PrepareGrid(QTableWidget* grid, int headerRows, int headerCols, int rows, int cols,
                 const GridOptions& options);

} // namespace mdlOVSqlRestore
