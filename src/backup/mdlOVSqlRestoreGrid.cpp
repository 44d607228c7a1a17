#include "backup/mdlOVSqlRestoreGrid.h"

#include <QHeaderView>
#include <QTableWidget>

namespace mdlOVSqlRestore {

void PrepareGrid(QTableWidget* grid, int headerRows, int headerCols, int rows, int cols,
                 const GridOptions& options)
{
    if (!grid)
        return;
    grid->setRowCount(1);
    grid->setColumnCount(1);
    // A header row of the grid is the table's horizontal header, not a row of
    // its own; the same for a header column.
    const int fixedRows = qBound(0, headerRows, 1);
    const int fixedCols = qBound(0, headerCols, 1);
    grid->setRowCount(qMax(0, rows - fixedRows));
    grid->setColumnCount(qMax(0, cols - fixedCols));
    grid->horizontalHeader()->setVisible(fixedRows > 0);
    grid->verticalHeader()->setVisible(fixedCols > 0);

    grid->setShowGrid(options.showGrid);
    grid->setWordWrap(options.wordWrap);
    grid->setSelectionBehavior(options.rowSelection ? QAbstractItemView::SelectRows
                                                    : QAbstractItemView::SelectItems);
    grid->setSelectionMode(options.singleSelection ? QAbstractItemView::SingleSelection
                                                   : QAbstractItemView::ExtendedSelection);
    grid->horizontalHeader()->setSectionResizeMode(options.resizableColumns ? QHeaderView::Interactive
                                                                            : QHeaderView::Fixed);
    grid->setAlternatingRowColors(options.alternatingRows);
    const Qt::ScrollBarPolicy policy =
        options.scrollBarsAsNeeded ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOn;
    grid->setHorizontalScrollBarPolicy(policy);
    grid->setVerticalScrollBarPolicy(policy);
}

} // namespace mdlOVSqlRestore
