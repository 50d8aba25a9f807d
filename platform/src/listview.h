#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/src/internal.h"

namespace afx {

// The rows and columns of a report-style list view. Changes made while the window is locked
// against drawing are announced once, as one reset, when it is unlocked: a list filled with 100,000
// rows costs one notification, not one per row.
//
// Rows are stored compactly, since a list may hold a million of them: each row is one block with
// its cells' texts back to back (one byte per character when every character of the row fits in
// one, as nearly all do), behind the cells' end offsets. The row being filled, the last one inserted
// or changed, stays open in a reusable form and is packed when another row is touched, so that
// filling a list costs one allocation per row.
class ListModel : public QAbstractTableModel {
public:
    struct Column {
        CString text;
        int format;
    };

    // What the view has been told; the application's own count is RowCount().
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : m_visibleRows;
    }
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
    }
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int InsertColumn(int pos, const CString& text, int format);
    bool DeleteColumn(int pos);
    int InsertRow(int pos, std::u16string_view text);
    bool SetText(int row, int col, std::u16string_view text);
    CString Text(int row, int col) const;
    void Clear();
    const std::vector<Column>& Columns() const { return m_columns; }

    void SetLocked(bool locked);

private:
    class PackedRow {
    public:
        PackedRow() = default;
        // `count` cells; `cell(i)` gives the text of cell i.
        template <typename CellAt> PackedRow(size_t count, CellAt cell);
        size_t Count() const { return m_block ? (m_block[0] & ~kNarrow) : 0; }
        // Appends cell i's text (empty beyond the cells) to `out`.
        void AppendCell(size_t i, std::u16string& out) const;

    private:
        static constexpr uint32_t kNarrow = 0x80000000u;
        std::unique_ptr<uint32_t[]> m_block;
    };

    void BeginChange();
    // Makes `row` the open row, packing the one open before.
    void OpenRow(int row);
    void PackOpenRow();
    template <typename Edit> void EditEveryRow(Edit edit);

    std::vector<Column> m_columns;
    std::vector<PackedRow> m_rows; // the open row's entry is stale while it is open
    int m_openRow = -1;
    std::vector<std::u16string> m_openCells; // the open row's cells; capacity kept for the next
    size_t m_openCount = 0;
    int m_visibleRows = 0;
    bool m_locked = false;
    bool m_resetPending = false;
    bool m_visibleRowsChanged = false;
};

QWidget* CreateListViewWidget(QWidget* parent, DWORD style);
void AttachListView(HWND h);
QWidget* CreateListBoxWidget(QWidget* parent, DWORD style);
void AttachListBox(HWND h);

} // namespace afx
