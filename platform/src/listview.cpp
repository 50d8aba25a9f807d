// The report-style list view with its header, and the list box.
#include "platform/src/listview.h"

#include <QFocusEvent>
#include <QHeaderView>
#include <QListWidget>
#include <QTableView>
#include <algorithm>
#include <set>

namespace afx {

// ---- model ------------------------------------------------------------------------------------------

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= static_cast<int>(m_rows.size()))
        return {};
    const auto& row = m_rows[static_cast<size_t>(index.row())];
    const auto col = static_cast<size_t>(index.column());
    return col < row.size() ? ToQ(row[col]) : QString();
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
    for (auto& row : m_rows)
        if (static_cast<size_t>(pos) <= row.size()) row.insert(row.begin() + pos, CString());
    if (!m_locked) endInsertColumns();
    return pos;
}

bool ListModel::DeleteColumn(int pos) {
    if (pos < 0 || pos >= static_cast<int>(m_columns.size())) return false;
    BeginChange();
    if (!m_locked) beginRemoveColumns({}, pos, pos);
    m_columns.erase(m_columns.begin() + pos);
    for (auto& row : m_rows)
        if (static_cast<size_t>(pos) < row.size()) row.erase(row.begin() + pos);
    if (!m_locked) endRemoveColumns();
    return true;
}

int ListModel::InsertRow(int pos, const CString& text) {
    pos = std::clamp(pos, 0, static_cast<int>(m_rows.size()));
    std::vector<CString> row(std::max<size_t>(m_columns.size(), 1));
    row[0] = text;
    if (m_locked) {
        // Appending behind what the view knows needs no notification until the unlock.
        if (pos < m_visibleRows) BeginChange();
        m_rows.insert(m_rows.begin() + pos, std::move(row));
        return pos;
    }
    beginInsertRows({}, pos, pos);
    m_rows.insert(m_rows.begin() + pos, std::move(row));
    m_visibleRows = static_cast<int>(m_rows.size());
    endInsertRows();
    return pos;
}

bool ListModel::SetText(int row, int col, const CString& text) {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || col < 0 ||
        col >= static_cast<int>(m_columns.size()))
        return false;
    auto& cells = m_rows[static_cast<size_t>(row)];
    if (static_cast<size_t>(col) >= cells.size()) cells.resize(static_cast<size_t>(col) + 1);
    cells[static_cast<size_t>(col)] = text;
    if (m_locked)
        m_visibleRowsChanged = m_visibleRowsChanged || row < m_visibleRows;
    else
        emit dataChanged(index(row, col), index(row, col));
    return true;
}

CString ListModel::Text(int row, int col) const {
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || col < 0) return CString();
    const auto& cells = m_rows[static_cast<size_t>(row)];
    return static_cast<size_t>(col) < cells.size() ? cells[static_cast<size_t>(col)] : CString();
}

void ListModel::Clear() {
    BeginChange();
    if (!m_locked) beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
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

ListViewWidget* ListOf(HWND h) {
    if (!IsWindow(h)) return nullptr;
    if (h->kind == Kind::Header) h = h->listView;
    return IsWindow(h) ? dynamic_cast<ListViewWidget*>(h->widget.data()) : nullptr;
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
    return m ? m->InsertRow(nItem, CString(lpszItem)) : -1;
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCWSTR lpszText) {
    ListModel* m = ModelOf(m_hWnd);
    return m && m->SetText(nItem, nSubItem, CString(lpszText));
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
