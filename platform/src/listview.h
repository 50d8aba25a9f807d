#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "platform/src/internal.h"

namespace afx {

// The rows and columns of a report-style list view. Changes made while the window is locked
// against drawing are announced once, as one reset, when it is unlocked: a list filled with 100,000
// rows costs one notification, not one per row.
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
    int InsertRow(int pos, const CString& text);
    bool SetText(int row, int col, const CString& text);
    CString Text(int row, int col) const;
    void Clear();
    const std::vector<Column>& Columns() const { return m_columns; }

    void SetLocked(bool locked);

private:
    void BeginChange();

    std::vector<Column> m_columns;
    std::vector<std::vector<CString>> m_rows;
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
