// The report-style list view with its header, and the list box.
#include "platform/src/listview.h"

#include <QFocusEvent>
#include <QHeaderView>
#include <QListWidget>
#include <QTableView>
#include <algorithm>
#include <set>
#include <stdexcept>

namespace afx {

// ---- model ------------------------------------------------------------------------------------------

// Block layout: [count | kNarrow if one byte per character] [end of cell 0] ... [end of cell n-1]
// and then the texts, as bytes or as UTF-16 code units. Offsets count characters.
template <typename CellAt> ListModel::PackedRow::PackedRow(size_t count, CellAt cell) {
    if (count == 0) return;
    size_t total = 0;
    bool narrow = true;
    for (size_t i = 0; i < count; ++i) {
        const std::u16string_view text = cell(i);
        total += text.size();
        for (char16_t ch : text)
            narrow = narrow && ch <= 0xFF;
    }
    if (count >= kNarrow || total > UINT32_MAX) throw std::length_error("list row too long");
    const size_t header = count + 1;
    const size_t textWords = narrow ? (total + 3) / 4 : (total + 1) / 2;
    m_block = std::make_unique_for_overwrite<uint32_t[]>(header + textWords);
    m_block[0] = static_cast<uint32_t>(count) | (narrow ? kNarrow : 0);
    size_t end = 0;
    if (narrow) {
        auto* out = reinterpret_cast<unsigned char*>(m_block.get() + header);
        for (size_t i = 0; i < count; ++i) {
            for (char16_t ch : cell(i))
                out[end++] = static_cast<unsigned char>(ch);
            m_block[1 + i] = static_cast<uint32_t>(end);
        }
    } else {
        auto* out = reinterpret_cast<char16_t*>(m_block.get() + header);
        for (size_t i = 0; i < count; ++i) {
            const std::u16string_view text = cell(i);
            std::copy(text.begin(), text.end(), out + end);
            end += text.size();
            m_block[1 + i] = static_cast<uint32_t>(end);
        }
    }
}

void ListModel::PackedRow::AppendCell(size_t i, std::u16string& out) const {
    if (i >= Count()) return;
    const size_t begin = i == 0 ? 0 : m_block[i];
    const size_t end = m_block[1 + i];
    const uint32_t* text = m_block.get() + Count() + 1;
    if (m_block[0] & kNarrow) {
        const auto* p = reinterpret_cast<const unsigned char*>(text);
        out.append(p + begin, p + end);
    } else {
        const auto* p = reinterpret_cast<const char16_t*>(text);
        out.append(p + begin, end - begin);
    }
}

void ListModel::OpenRow(int row) {
    if (row == m_openRow) return;
    PackOpenRow();
    const PackedRow& packed = m_rows[static_cast<size_t>(row)];
    m_openCount = packed.Count();
    if (m_openCells.size() < m_openCount) m_openCells.resize(m_openCount);
    for (size_t i = 0; i < m_openCount; ++i) {
        m_openCells[i].clear();
        packed.AppendCell(i, m_openCells[i]);
    }
    m_openRow = row;
}

void ListModel::PackOpenRow() {
    if (m_openRow < 0) return;
    m_rows[static_cast<size_t>(m_openRow)] =
        PackedRow(m_openCount, [this](size_t i) { return std::u16string_view(m_openCells[i]); });
    m_openRow = -1;
}

// Rewrites every row with `edit`, which changes a row's cells in place.
template <typename Edit> void ListModel::EditEveryRow(Edit edit) {
    PackOpenRow();
    std::vector<std::u16string> cells;
    for (PackedRow& row : m_rows) {
        cells.resize(row.Count());
        for (size_t i = 0; i < cells.size(); ++i) {
            cells[i].clear();
            row.AppendCell(i, cells[i]);
        }
        edit(cells);
        row = PackedRow(cells.size(), [&cells](size_t i) { return std::u16string_view(cells[i]); });
    }
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= static_cast<int>(m_rows.size()))
        return {};
    // Only the cells on screen are asked for: the list shows exactly what GetItemText reads.
    return ToQ(Text(index.row(), index.column()));
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_columns.size()))
        return {};
    const Column& c = m_columns[static_cast<size_t>(section)];
    if (role == Qt::DisplayRole) return ToQ(c.text);
    if (role == Qt::TextAlignmentRole) {
        const int align = (c.format & 3) == LVCFMT_RIGHT    ? Qt::AlignRight
                          : (c.format & 3) == LVCFMT_CENTER ? Qt::AlignHCenter
                                                            : Qt::AlignLeft;
        return QVariant(align | Qt::AlignVCenter);
    }
    return {};
}

void ListModel::BeginChange() {
    if (m_locked && !m_resetPending) {
        m_resetPending = true;
        beginResetModel();
    }
}

void ListModel::SetLocked(bool locked) {
    m_locked = locked;
    if (locked) return;
    const int rows = static_cast<int>(m_rows.size());
    if (m_resetPending) {
        m_resetPending = false;
        m_visibleRows = rows;
        endResetModel();
    } else if (rows > m_visibleRows) {
        // Rows appended while locked: one notification for all of them.
        beginInsertRows({}, m_visibleRows, rows - 1);
        m_visibleRows = rows;
        endInsertRows();
    }
    if (m_visibleRowsChanged && m_visibleRows > 0 && !m_columns.empty())
        emit dataChanged(index(0, 0), index(m_visibleRows - 1, static_cast<int>(m_columns.size()) - 1));
    m_visibleRowsChanged = false;
}

int ListModel::InsertColumn(int pos, const CString& text, int format) {
    pos = std::clamp(pos, 0, static_cast<int>(m_columns.size()));
    BeginChange();
    if (!m_locked) beginInsertColumns({}, pos, pos);
    m_columns.insert(m_columns.begin() + pos, Column{text, format});
    EditEveryRow([pos](std::vector<std::u16string>& cells) {
        if (static_cast<size_t>(pos) <= cells.size()) cells.insert(cells.begin() + pos, std::u16string());
    });
    if (!m_locked) endInsertColumns();
    return pos;
}

bool ListModel::DeleteColumn(int pos) {
    if (pos < 0 || pos >= static_cast<int>(m_columns.size())) return false;
    BeginChange();
    if (!m_locked) beginRemoveColumns({}, pos, pos);
    m_columns.erase(m_columns.begin() + pos);
    EditEveryRow([pos](std::vector<std::u16string>& cells) {
        if (static_cast<size_t>(pos) < cells.size()) cells.erase(cells.begin() + pos);
    });
    if (!m_locked) endRemoveColumns();
    return true;
}

int ListModel::InsertRow(int pos, std::u16string_view text) {
    pos = std::clamp(pos, 0, static_cast<int>(m_rows.size()));
    PackOpenRow();
    const bool notify = !m_locked;
    // Appending behind what the view knows needs no notification until the unlock.
    if (m_locked && pos < m_visibleRows) BeginChange();
    if (notify) beginInsertRows({}, pos, pos);
    m_rows.insert(m_rows.begin() + pos, PackedRow());
    m_openRow = pos;
    m_openCount = std::max<size_t>(m_columns.size(), 1);
    if (m_openCells.size() < m_openCount) m_openCells.resize(m_openCount);
    m_openCells[0].assign(text);
    for (size_t i = 1; i < m_openCount; ++i)
        m_openCells[i].clear();
    if (notify) {
        m_visibleRows = static_cast<int>(m_rows.size());
        endInsertRows();
    }
    return pos;
}

bool ListModel::SetText(int row, int col, std::u16string_view text) {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || col < 0 ||
        col >= static_cast<int>(m_columns.size()))
        return false;
    OpenRow(row);
    const auto c = static_cast<size_t>(col);
    if (c >= m_openCount) {
        if (m_openCells.size() <= c) m_openCells.resize(c + 1);
        for (size_t i = m_openCount; i <= c; ++i)
            m_openCells[i].clear();
        m_openCount = c + 1;
    }
    m_openCells[c].assign(text);
    if (m_locked)
        m_visibleRowsChanged = m_visibleRowsChanged || row < m_visibleRows;
    else
        emit dataChanged(index(row, col), index(row, col));
    return true;
}

CString ListModel::Text(int row, int col) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || col < 0) return CString();
    const auto c = static_cast<size_t>(col);
    if (row == m_openRow) return c < m_openCount ? CString(m_openCells[c]) : CString();
    CString text;
    m_rows[static_cast<size_t>(row)].AppendCell(c, text.str());
    return text;
}

void ListModel::Clear() {
    BeginChange();
    if (!m_locked) beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_openRow = -1;
    m_openCount = 0;
    if (!m_locked) {
        m_visibleRows = 0;
        endResetModel();
    }
}

namespace {

struct ListViewState {
    ListModel model;
    DWORD extendedStyle = 0;
};

class ListViewWidget : public QTableView {
public:
    explicit ListViewWidget(QWidget* parent) : QTableView(parent) {
        setModel(&state.model);
        verticalHeader()->hide();
        horizontalHeader()->setSectionsMovable(false);
        horizontalHeader()->setHighlightSections(false);
        horizontalHeader()->setStretchLastSection(false);
        horizontalHeader()->setMinimumSectionSize(0);
        horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setShowGrid(false);
        setWordWrap(false);
        setSelectionBehavior(QAbstractItemView::SelectItems);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        setTextElideMode(Qt::ElideRight);
        // A reset would give every column the default width; the columns keep theirs.
        connect(&state.model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
            m_savedWidths.clear();
            for (int i = 0; i < horizontalHeader()->count(); ++i)
                m_savedWidths.push_back(horizontalHeader()->sectionSize(i));
        });
        connect(&state.model, &QAbstractItemModel::modelReset, this, [this] {
            for (int i = 0; i < horizontalHeader()->count() && i < static_cast<int>(m_savedWidths.size());
                 ++i)
                horizontalHeader()->resizeSection(i, m_savedWidths[static_cast<size_t>(i)]);
        });
    }
    ListViewState state;

private:
    std::vector<int> m_savedWidths;
};

// Every cell of a list goes through here: one check that the window lives, and its kind instead
// of a cast that searches the class tree.
ListViewWidget* ListOf(HWND h) {
    if (!IsWindow(h)) return nullptr;
    if (h->kind == Kind::Header && !IsWindow(h = h->listView)) return nullptr;
    return h->kind == Kind::ListView ? static_cast<ListViewWidget*>(h->widget.data()) : nullptr;
}

std::set<ListModel*>& LockedModels() {
    static std::set<ListModel*> s;
    return s;
}

} // namespace

QWidget* CreateListViewWidget(QWidget* parent, DWORD) {
    return new ListViewWidget(parent);
}

void AttachListView(HWND h) {
    auto* lv = static_cast<ListViewWidget*>(h->widget.data());
    HWND header = NewWindowHandle(lv->horizontalHeader(), Kind::Header, CString(u"SysHeader32"), 0,
                                  WS_CHILD | WS_VISIBLE, 0, h);
    header->listView = h;
    h->header = header;
    const int rowHeight = QFontMetrics(lv->font()).height() + 4;
    lv->verticalHeader()->setMinimumSectionSize(1);
    lv->verticalHeader()->setDefaultSectionSize(rowHeight);
}

ListModel* ModelOf(HWND listView) {
    ListViewWidget* lv = ListOf(listView);
    return lv ? &lv->state.model : nullptr;
}

void ApplyDrawingLock(HWND locked) {
    for (ListModel* m : LockedModels())
        m->SetLocked(false);
    LockedModels().clear();
    if (!IsWindow(locked)) return;
    for (ListViewWidget* lv : locked->widget->findChildren<ListViewWidget*>()) {
        lv->state.model.SetLocked(true);
        LockedModels().insert(&lv->state.model);
    }
    if (auto* self = dynamic_cast<ListViewWidget*>(locked->widget.data())) {
        self->state.model.SetLocked(true);
        LockedModels().insert(&self->state.model);
    }
}

LRESULT ListViewProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    ListViewWidget* lv = ListOf(h);
    if (!lv) return 0;
    ListModel& model = lv->state.model;
    switch (msg) {
    case LVM_GETITEMCOUNT:
        return model.RowCount();
    case LVM_GETHEADER:
        return reinterpret_cast<LRESULT>(h->header);
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
        return static_cast<LRESULT>(lv->state.extendedStyle);
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        const DWORD previous = lv->state.extendedStyle;
        const auto mask = static_cast<DWORD>(wParam);
        const auto style = static_cast<DWORD>(lParam);
        lv->state.extendedStyle = mask == 0 ? style : ((previous & ~mask) | (style & mask));
        lv->setShowGrid(lv->state.extendedStyle & LVS_EX_GRIDLINES);
        lv->setSelectionBehavior((lv->state.extendedStyle & LVS_EX_FULLROWSELECT)
                                     ? QAbstractItemView::SelectRows
                                     : QAbstractItemView::SelectItems);
        return static_cast<LRESULT>(previous);
    }
    case HDM_GETITEMCOUNT:
        return model.columnCount();
    case HDM_GETITEMW: {
        const int index = static_cast<int>(wParam);
        auto* item = reinterpret_cast<HDITEMW*>(lParam);
        if (!item || index < 0 || index >= model.columnCount()) return FALSE;
        const auto& column = model.Columns()[static_cast<size_t>(index)];
        if (item->mask & HDI_TEXT) {
            if (!item->pszText || item->cchTextMax <= 0) return FALSE;
            const int n = std::min(column.text.GetLength(), item->cchTextMax - 1);
            std::copy(column.text.GetString(), column.text.GetString() + n, item->pszText);
            item->pszText[n] = 0;
        }
        if (item->mask & HDI_WIDTH) item->cxy = lv->horizontalHeader()->sectionSize(index);
        if (item->mask & HDI_FORMAT) item->fmt = column.format;
        return TRUE;
    }
    default:
        return 0;
    }
}

// ---- list box ---------------------------------------------------------------------------------------------

namespace {

class ListBoxWidget : public QListWidget {
public:
    explicit ListBoxWidget(QWidget* parent) : QListWidget(parent) {}
    bool programmatic = false;

protected:
    void focusInEvent(QFocusEvent* e) override {
        QListWidget::focusInEvent(e);
        HWND h = HandleOf(this);
        if (IsLive(h) && (h->style & LBS_NOTIFY)) NotifyParent(h, LBN_SETFOCUS);
    }
    void focusOutEvent(QFocusEvent* e) override {
        QListWidget::focusOutEvent(e);
        HWND h = HandleOf(this);
        if (IsLive(h) && (h->style & LBS_NOTIFY)) NotifyParent(h, LBN_KILLFOCUS);
    }
};

ListBoxWidget* ListBoxOf(HWND h) {
    return IsWindow(h) ? dynamic_cast<ListBoxWidget*>(h->widget.data()) : nullptr;
}

// The order of a sorted list box: letter case ignored, and hyphens and apostrophes weigh less than
// letters (word sort), with an ordinal comparison breaking ties.
int CompareForListBox(const CString& a, const CString& b) {
    auto key = [](const CString& s) {
        CString k;
        for (int i = 0; i < s.GetLength(); ++i)
            if (s[i] != u'-' && s[i] != u'\'') k += WideToUpper(s[i]);
        return k;
    };
    const int c = key(a).Compare(key(b));
    if (c != 0) return c;
    return CString(a).MakeUpper().Compare(CString(b).MakeUpper());
}

} // namespace

QWidget* CreateListBoxWidget(QWidget* parent, DWORD) {
    auto* lb = new ListBoxWidget(parent);
    lb->setSelectionMode(QAbstractItemView::SingleSelection);
    lb->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return lb;
}

void AttachListBox(HWND h) {
    auto* lb = static_cast<ListBoxWidget*>(h->widget.data());
    QObject::connect(lb, &QListWidget::currentRowChanged, [h, lb](int) {
        if (!lb->programmatic && IsLive(h) && (h->style & LBS_NOTIFY)) NotifyParent(h, LBN_SELCHANGE);
    });
}

LRESULT ListBoxProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

} // namespace afx

using namespace afx;

// ---- CListCtrl / CHeaderCtrl ------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)
IMPLEMENT_DYNAMIC(CHeaderCtrl, CWnd)

int CListCtrl::InsertColumn(int nCol, LPCWSTR lpszColumnHeading, int nFormat, int nWidth, int) {
    ListViewWidget* lv = ListOf(m_hWnd);
    if (!lv) return -1;
    const int pos = lv->state.model.InsertColumn(nCol, CString(lpszColumnHeading), nFormat);
    if (nWidth >= 0) lv->horizontalHeader()->resizeSection(pos, nWidth);
    return pos;
}

BOOL CListCtrl::DeleteColumn(int nCol) {
    ListModel* m = ModelOf(m_hWnd);
    return m && m->DeleteColumn(nCol);
}

int CListCtrl::GetColumnWidth(int nCol) const {
    ListViewWidget* lv = ListOf(m_hWnd);
    return lv ? lv->horizontalHeader()->sectionSize(nCol) : 0;
}

BOOL CListCtrl::SetColumnWidth(int nCol, int cx) {
    ListViewWidget* lv = ListOf(m_hWnd);
    if (!lv || nCol < 0 || nCol >= lv->state.model.columnCount()) return FALSE;
    lv->horizontalHeader()->resizeSection(nCol, cx);
    return TRUE;
}

CHeaderCtrl* CListCtrl::GetHeaderCtrl() const {
    auto header = reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER));
    if (!IsLive(header)) return nullptr;
    if (!header->pWnd) {
        // The header is owned by the list view; its wrapper lives as long as the window.
        header->tempWrapper = std::make_unique<CHeaderCtrl>();
        header->tempWrapper->Attach(header);
    }
    return static_cast<CHeaderCtrl*>(header->pWnd);
}

int CListCtrl::InsertItem(int nItem, LPCWSTR lpszItem) {
    ListModel* m = ModelOf(m_hWnd);
    return m ? m->InsertRow(nItem, lpszItem ? std::u16string_view(lpszItem) : std::u16string_view()) : -1;
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCWSTR lpszText) {
    ListModel* m = ModelOf(m_hWnd);
    return m && m->SetText(nItem, nSubItem, lpszText ? std::u16string_view(lpszText) : std::u16string_view());
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    ListModel* m = ModelOf(m_hWnd);
    return m ? m->Text(nItem, nSubItem) : CString();
}

BOOL CListCtrl::DeleteAllItems() {
    ListModel* m = ModelOf(m_hWnd);
    if (!m) return FALSE;
    m->Clear();
    return TRUE;
}

int CListCtrl::GetItemCount() const {
    return static_cast<int>(SendMessage(LVM_GETITEMCOUNT));
}

DWORD CListCtrl::SetExtendedStyle(DWORD dwNewStyle) {
    return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(dwNewStyle)));
}

DWORD CListCtrl::GetExtendedStyle() const {
    return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
}

int CHeaderCtrl::GetItemCount() const {
    return static_cast<int>(SendMessage(HDM_GETITEMCOUNT));
}

BOOL CHeaderCtrl::GetItem(int nPos, HDITEMW* pHeaderItem) const {
    return static_cast<BOOL>(
        SendMessage(HDM_GETITEMW, static_cast<WPARAM>(nPos), reinterpret_cast<LPARAM>(pHeaderItem)));
}

// ---- CListBox -----------------------------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CListBox, CWnd)

int CListBox::AddString(LPCWSTR lpszItem) {
    ListBoxWidget* lb = ListBoxOf(m_hWnd);
    if (!lb) return LB_ERR;
    const CString item(lpszItem);
    int pos = lb->count();
    if (m_hWnd->style & LBS_SORT) {
        pos = 0;
        while (pos < lb->count() && CompareForListBox(FromQ(lb->item(pos)->text()), item) <= 0)
            ++pos;
    }
    lb->programmatic = true;
    lb->insertItem(pos, ToQ(item));
    lb->programmatic = false;
    return pos;
}

int CListBox::DeleteString(UINT nIndex) {
    ListBoxWidget* lb = ListBoxOf(m_hWnd);
    if (!lb || static_cast<int>(nIndex) >= lb->count()) return LB_ERR;
    lb->programmatic = true;
    delete lb->takeItem(static_cast<int>(nIndex));
    // Deleting the selected entry leaves no selection, as in a Windows list box.
    lb->setCurrentRow(-1);
    lb->clearSelection();
    lb->programmatic = false;
    return lb->count();
}

int CListBox::GetCurSel() const {
    ListBoxWidget* lb = ListBoxOf(m_hWnd);
    if (!lb) return LB_ERR;
    const auto selected = lb->selectedItems();
    return selected.isEmpty() ? LB_ERR : lb->row(selected.first());
}

int CListBox::SetCurSel(int nSelect) {
    ListBoxWidget* lb = ListBoxOf(m_hWnd);
    if (!lb) return LB_ERR;
    lb->programmatic = true;
    int result = LB_ERR;
    if (nSelect < 0 || nSelect >= lb->count()) {
        lb->clearSelection();
        lb->setCurrentRow(-1);
    } else {
        lb->setCurrentRow(nSelect);
        lb->item(nSelect)->setSelected(true);
        result = nSelect;
    }
    lb->programmatic = false;
    return result;
}

int CListBox::GetText(int nIndex, CString& rString) const {
    ListBoxWidget* lb = ListBoxOf(m_hWnd);
    if (!lb || nIndex < 0 || nIndex >= lb->count()) return LB_ERR;
    rString = FromQ(lb->item(nIndex)->text());
    return rString.GetLength();
}

int CListBox::GetCount() const {
    ListBoxWidget* lb = ListBoxOf(m_hWnd);
    return lb ? lb->count() : LB_ERR;
}

void CListBox::ResetContent() {
    ListBoxWidget* lb = ListBoxOf(m_hWnd);
    if (!lb) return;
    lb->programmatic = true;
    lb->clear();
    lb->programmatic = false;
}

int CListBox::FindStringExact(int nIndexStart, LPCWSTR lpszFind) const {
    ListBoxWidget* lb = ListBoxOf(m_hWnd);
    if (!lb) return LB_ERR;
    for (int i = std::max(nIndexStart + 1, 0); i < lb->count(); ++i)
        if (FromQ(lb->item(i)->text()).CompareNoCase(lpszFind) == 0) return i;
    return LB_ERR;
}
