#include "readers/view/plxZipView.h"

#include "platform/win/Files.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <numeric>
#include <optional>

using namespace vcl;

// ---- scroll bars and the scrolling box -------------------------------------------------------

TScrlBar::TScrlBar(TScrollBar* bar) : bar_(bar)
{
    bar_->SmallChange = 1;
    bar_->LargeChange = 10;
    bar_->SetParams(0, 0, 100);
}

void TScrlBar::SetVisible(bool v)
{
    visible_ = v;
    bar_->SetVisible(v);
}

TScrlBox::TScrlBox(TComponent* owner) : TCustomControl(owner)
{
    SetBounds(0, 0, 185, 97);
    TabStop = true;
    auto makeBar = [this](TScrollBarKind kind) {
        auto* bar = new TScrollBar(this);
        bar->ScrollKind = kind;
        bar->TabStop = false;
        bar->SetParent(this);
        bar->OnChange = [this, kind](TObject*) {
            if (OnChange)
                OnChange(this, kind);
        };
        return std::make_unique<TScrlBar>(bar);
    };
    horz_ = makeBar(sbHorizontal);
    vert_ = makeBar(sbVertical);
}

TRect TScrlBox::ViewArea() const
{
    int border = BorderSingle ? 2 : 0;
    TRect r = Rect(border, border, Width() - border, Height() - border);
    if (vert_->Visible())
        r.Right -= BarSize;
    if (horz_->Visible())
        r.Bottom -= BarSize;
    return r;
}

void TScrlBox::PlaceScrollBars()
{
    TRect area = ViewArea();
    horz_->Bar()->SetBounds(area.Left, area.Bottom, area.Width(), BarSize);
    vert_->Bar()->SetBounds(area.Right, area.Top, BarSize, area.Height());
}

void TScrlBox::Paint()
{
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    if (BorderSingle)
        Canvas.DrawEdge(r, false);
}

// ---- header ----------------------------------------------------------------------------------

TListHeader::TListHeader(TComponent* owner) : THeaderControl(owner)
{
    SetAlign(alNone);
}

// ---- icons -----------------------------------------------------------------------------------

namespace {

enum TFileIcon { fiFile, fiFolder, fiArchive, fiText, fiImage, fiProgram, fiIconCount };

const TColor IconMask = clFuchsia;

TBitmap MakeIcon(TFileIcon kind, int size)
{
    TBitmap b(size, size, IconMask);
    TCanvas& c = b.Canvas();
    int u = size / 16;
    auto box = [&](int l, int t, int r, int bt, TColor fill) {
        c.Brush.Color = fill;
        c.FillRect(Rect(l * u, t * u, r * u, bt * u));
        c.Brush.Color = clBlack;
        c.FrameRect(Rect(l * u, t * u, r * u, bt * u));
    };
    switch (kind) {
    case fiFolder:
        box(1, 3, 8, 6, clYellow);
        box(1, 5, 15, 14, clYellow);
        break;
    case fiArchive:
        box(2, 2, 14, 14, 0x2A5A8B);  // brown
        box(7, 2, 9, 14, clSilver);
        break;
    case fiImage:
        box(2, 2, 14, 14, clWhite);
        box(4, 8, 12, 12, clGreen);
        break;
    case fiProgram:
        box(1, 2, 15, 14, clSilver);
        box(1, 2, 15, 5, clNavy);
        break;
    case fiText:
        box(3, 1, 13, 15, clWhite);
        c.Brush.Color = clBlue;
        for (int y = 4; y < 13; y += 3)
            c.FillRect(Rect(5 * u, y * u, 11 * u, (y + 1) * u));
        break;
    default:
        box(3, 1, 13, 15, clWhite);
        break;
    }
    return b;
}

std::unique_ptr<TImageList> MakeIconList(int size)
{
    auto list = std::make_unique<TImageList>(nullptr);
    list->Width = list->Height = size;
    for (int i = 0; i < fiIconCount; ++i)
        list->AddMasked(MakeIcon(TFileIcon(i), size), IconMask);
    return list;
}

}  // namespace

int FileTypeIconIndex(const std::string& name)
{
    // An empty name is how the listing shows a folder entry.
    if (name.empty() || name.back() == '\\' || name.back() == '/')
        return fiFolder;
    size_t dot = name.find_last_of(".\\/");
    if (dot == std::string::npos || name[dot] != '.')
        return fiFile;
    std::string ext = win::LowerCase(name.substr(dot + 1));
    auto in = [&](std::initializer_list<const char*> list) {
        return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
    };
    if (in({"zip", "jar", "arj", "lzh", "lha", "bh",  "zoo", "arc", "pak", "cab", "rar",
            "ace", "tar", "gz",  "tgz", "bz2", "tbz", "z",   "uue", "xxe", "b64"}))
        return fiArchive;
    if (in({"txt", "doc", "rtf", "pdf", "htm", "html", "xml", "ini", "csv", "log", "dta"}))
        return fiText;
    if (in({"bmp", "gif", "jpg", "jpeg", "png", "ico", "tif", "tiff"}))
        return fiImage;
    if (in({"exe", "com", "bat", "cmd", "dll", "sh"}))
        return fiProgram;
    return fiFile;
}

// ---- rows ------------------------------------------------------------------------------------

int TZipViewItems::Add(const std::string& text)
{
    return AddFields(view_.SplitRow(text));
}

int TZipViewItems::AddFields(std::vector<std::string> fields)
{
    rows_.push_back(std::move(fields));
    view_.listBox_->Items.Add(view_.JoinRow(rows_.back()));
    view_.RowsChanged();
    return Count() - 1;
}

std::string TZipViewItems::operator[](int index) const
{
    return view_.JoinRow(rows_.at(size_t(index)));
}

void TZipViewItems::Delete(int index)
{
    rows_.erase(rows_.begin() + index);
    view_.listBox_->Items.Delete(index);
    view_.RowsChanged();
}

void TZipViewItems::Clear()
{
    rows_.clear();
    view_.listBox_->Items.Clear();
    view_.RowsChanged();
}

void TZipViewItems::BeginUpdate()
{
    ++view_.updateCount_;
    view_.listBox_->Items.BeginUpdate();
}

void TZipViewItems::EndUpdate()
{
    view_.listBox_->Items.EndUpdate();
    if (--view_.updateCount_ == 0)
        view_.RowsChanged();
}

std::vector<std::string> TZipView::SplitRow(const std::string& text) const
{
    std::vector<std::string> fields;
    if (Delimiter.empty())
        return {text};
    size_t start = 0;
    for (;;) {
        size_t at = text.find(Delimiter, start);
        fields.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return fields;
        start = at + Delimiter.size();
    }
}

std::string TZipView::JoinRow(const std::vector<std::string>& fields) const
{
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i)
        text += (i ? Delimiter : "") + fields[i];
    return text;
}

// ---- list box --------------------------------------------------------------------------------

TplxListBox::TplxListBox(TComponent* owner, TZipView& view) : TListBox(owner), view_(view)
{
    Style = lbOwnerDrawFixed;
    ItemHeight = 16;
    MultiSelect = true;
    ExtendedSelect = true;
    TabStop = true;
}

void TplxListBox::DrawItem(int index, const TRect& rect, TOwnerDrawState state)
{
    view_.DrawRow(index, rect, state);
}

void TplxListBox::MouseMove(TShiftState shift, int x, int y)
{
    TListBox::MouseMove(shift, x, y);
    if (view_.ExpandColText)
        view_.ExpandCell(x, y);
}

// ---- the view --------------------------------------------------------------------------------

namespace {
struct TDefaultSection {
    const char* caption;
    int width;
    TAlignment alignment = taLeftJustify;
};
// One section for each field of a row that the main window writes, in its order. Numbers line
// up on their last digit; the attributes ("_A___H_ (33)") fit whole.
const TDefaultSection DefaultSections[zcColumnCount] = {
    {"Filename", 120},
    {"Date / Time", 100},
    {"Packed", 75, taRightJustify},
    {"Unpacked", 75, taRightJustify},
    {"Ratio", 70, taRightJustify},
    {"Method", 90},
    {"Attr", 140},
    {"Folder", 150},
    {"File Type", 120},
    {"Crc", 90},
    {"File Offset", 80, taRightJustify},
    {"Encrypted", 60},
    {"Version", 60},
    {"Host OS", 80},
    {"Volume ID", 120},
    {"File Index", 60, taRightJustify},
    {"File Comment", 120},
};
constexpr int IconRoom = 18;  // 2 pixels in, a 16-pixel icon
}  // namespace

TZipView::TZipView(TComponent* owner) : TScrlBox(owner), Items(*this)
{
    header_ = new TListHeader(this);
    header_->SetParent(this);
    for (const auto& s : DefaultSections)
        header_->AddSection(s.caption, s.width)->Alignment = s.alignment;
    header_->OnSectionClick = [this](THeaderControl*, THeaderSection* s) { HeaderClick(s); };
    header_->OnSectionResize = [this](THeaderControl*, THeaderSection*) { LayoutChildren(); };
    header_->OnDrawSection = [this](THeaderControl* h, THeaderSection* s, const TRect& r, bool pressed) {
        DrawSection(h, s, r, pressed);
    };
    listBox_ = new TplxListBox(this, *this);
    listBox_->SetParent(this);
    listBox_->OnClick = [this](TObject*) {
        if (OnClick)
            OnClick(this);
    };
    listBox_->OnDblClick = [this](TObject*) {
        if (OnDblClick)
            OnDblClick(this);
    };
    listBox_->OnKeyDown = [this](TObject*, WORD& k, TShiftState s) {
        if (OnKeyDown)
            OnKeyDown(this, k, s);
    };
    listBox_->OnKeyUp = [this](TObject*, WORD& k, TShiftState s) {
        if (OnKeyUp)
            OnKeyUp(this, k, s);
    };
    listBox_->OnKeyPress = [this](TObject*, char32_t& k) {
        if (OnKeyPress)
            OnKeyPress(this, k);
    };
    listBox_->OnMouseDown = [this](TObject*, TMouseButton b, TShiftState s, int x, int y) {
        if (OnMouseDown)
            OnMouseDown(this, b, s, x, y);
    };
    listBox_->OnMouseUp = [this](TObject*, TMouseButton b, TShiftState s, int x, int y) {
        if (OnMouseUp)
            OnMouseUp(this, b, s, x, y);
    };
    listBox_->OnMouseMove = [this](TObject*, TShiftState s, int x, int y) {
        if (OnMouseMove)
            OnMouseMove(this, s, x, y);
    };
    // Scroll bars after the children, so that they lie above them.
    for (TScrollBar* bar : {HorzScrollBar().Bar(), VertScrollBar().Bar()}) {
        bar->SetParent(nullptr);
        bar->SetParent(this);
    }
    OnChange = [this](TObject*, TScrollBarKind kind) {
        if (kind == sbVertical)
            listBox_->SetTopIndex(VertScrollBar().ThumbValue());
        LayoutChildren();
    };
    smallIcons_ = MakeIconList(16);
    largeIcons_ = MakeIconList(32);
    // The keys belong to the rows: Tab stops at the list, not at the frame around it.
    TabStop = false;
    LayoutChildren();
}

TZipView::~TZipView() = default;

void TZipView::Loaded()
{
    TScrlBox::Loaded();
    LayoutChildren();
}

void TZipView::Resize()
{
    TScrlBox::Resize();
    LayoutChildren();
}

void TZipView::LayoutChildren()
{
    if (!header_ || !listBox_)
        return;
    int total = header_->TotalWidth();
    int headerHeight = headerVisible_ ? headerHeight_ : 0;
    int border = BorderSingle ? 2 : 0;
    // Which bars are needed depends on the room the other one leaves.
    bool needH = false, needV = false;
    for (int pass = 0; pass < 2; ++pass) {
        int w = Width() - 2 * border - (needV ? BarSize : 0);
        int h = Height() - 2 * border - (needH ? BarSize : 0);
        needH = total > w;
        needV = Items.Count() * listBox_->ItemHeight + 4 > h - headerHeight;
    }
    HorzScrollBar().SetVisible(needH);
    VertScrollBar().SetVisible(needV);
    PlaceScrollBars();
    TRect area = ViewArea();
    int hRange = std::max(0, total - area.Width());
    auto* hbar = HorzScrollBar().Bar();
    if (hbar->Max != hRange || hbar->Position() > hRange)
        hbar->SetParams(std::min(hbar->Position(), hRange), 0, hRange);
    auto* vbar = VertScrollBar().Bar();
    int vRange = std::max(0, Items.Count() - listBox_->VisibleItems());
    if (vbar->Max != vRange)
        vbar->SetParams(std::min(listBox_->TopIndex(), vRange), 0, vRange);
    int x = area.Left - hbar->Position();
    int width = std::max(total, area.Width());
    header_->SetVisible(headerVisible_);
    header_->SetBounds(x, area.Top, width, headerHeight_);
    listBox_->SetBounds(x, area.Top + headerHeight, width, std::max(0, area.Height() - headerHeight));
}

void TZipView::RowsChanged()
{
    if (updateCount_ > 0)
        return;
    FreeLongEdit();
    LayoutChildren();
    Invalidate();
}

void TZipView::SetEnabled(bool enabled)
{
    TScrlBox::SetEnabled(enabled);
    listBox_->SetEnabled(enabled);
    header_->SetEnabled(enabled);
}

bool TZipView::MultiSelect() const
{
    return listBox_->MultiSelect;
}
void TZipView::SetMultiSelect(bool v)
{
    listBox_->MultiSelect = v;
}
bool TZipView::ExtendedSelect() const
{
    return listBox_->ExtendedSelect;
}
void TZipView::SetExtendedSelect(bool v)
{
    listBox_->ExtendedSelect = v;
}

void TZipView::SetHeaderHeight(int height)
{
    headerHeight_ = std::max(0, height);
    LayoutChildren();
}

void TZipView::SetHeaderVisible(bool visible)
{
    headerVisible_ = visible;
    LayoutChildren();
}

void TZipView::SetHeaderTextVPos(THeaderVertPos pos)
{
    header_->TextVPos = pos;
    header_->Invalidate();
}

int TZipView::ItemHeight() const
{
    return listBox_->ItemHeight;
}

void TZipView::SetItemHeight(int height)
{
    listBox_->ItemHeight = std::max(1, height);
    LayoutChildren();
}

void TZipView::SetColor(TColor color)
{
    listBox_->Color = color;
    listBox_->Invalidate();
}

void TZipView::SetFont(const TFont& font)
{
    listBox_->Font = font;
    listBox_->Invalidate();
}

void TZipView::Clear()
{
    Items.Clear();
    SortColumn = -1;
}

int TZipView::DeleteSelected()
{
    std::vector<int> selected;
    for (int i = 0; i < Items.Count(); ++i)
        if (listBox_->Selected(i))
            selected.push_back(i);
    Items.BeginUpdate();
    for (auto it = selected.rbegin(); it != selected.rend(); ++it)
        Items.Delete(*it);
    Items.EndUpdate();
    return int(selected.size());
}

int TZipView::GetItemIndex() const
{
    return listBox_->ItemIndex();
}
int TZipView::GetSelCount() const
{
    return listBox_->SelCount();
}
bool TZipView::GetSelected(int index) const
{
    return listBox_->Selected(index);
}
void TZipView::SetSelected(int index, bool selected)
{
    listBox_->SetSelected(index, selected);
}
void TZipView::SetSorted(bool sorted)
{
    listBox_->SetSorted(sorted);
}
void TZipView::SetFocus()
{
    listBox_->SetFocus();
}

std::string TZipView::GetColumnText(int row, int col) const
{
    if (row < 0 || row >= Items.Count() || col < 0 || col >= SectionCount())
        return {};
    const auto& fields = Items.Fields(row);
    return size_t(col) < fields.size() ? fields[size_t(col)] : std::string();
}

// ---- sorting ---------------------------------------------------------------------------------

void TZipView::HeaderClick(THeaderSection* section)
{
    if (!HeaderEnabled || !OnHeaderClick || Items.Count() == 0 || !section)
        return;
    if (section->Index == SortColumn) {
        SortDirection = SortDirection == 0 ? 1 : 0;
    } else {
        SortColumn = section->Index;
        SortDirection = 0;
    }
    OnHeaderClick(header_, section);
}

namespace {

// A cell's value for the numeric sort kinds; nothing for a text that is no such value. Integers
// stay integers, so that sizes and offsets beyond 4 GiB compare exactly.
struct TSortValue {
    std::int64_t integer = 0;
    double real = 0;
};

std::optional<TSortValue> SortValue(const std::string& text, std::uint8_t kind)
{
    std::string t = win::Trim(text);
    TSortValue v;
    bool ok = false;
    switch (kind) {
    case skDateTime:
        ok = win::TryStrToDateTime(t, v.real);
        break;
    case skTime:
        ok = win::TryStrToTime(t, v.real);
        break;
    case skInteger:
        ok = win::TryStrToInt64(t, v.integer);
        break;
    case skFloat:
        ok = win::TryStrToFloat(t, v.real);
        break;
    default:
        break;
    }
    return ok ? std::optional<TSortValue>(v) : std::nullopt;
}

int CompareValues(const TSortValue& a, const TSortValue& b, std::uint8_t kind)
{
    if (kind == skInteger)
        return a.integer < b.integer ? -1 : a.integer > b.integer ? 1 : 0;
    return a.real < b.real ? -1 : a.real > b.real ? 1 : 0;
}

}  // namespace

int TZipView::CompareRows(const std::vector<std::string>& row, const std::string& pivot) const
{
    std::string item1 = size_t(SortColumn) < row.size() ? row[size_t(SortColumn)] : std::string();
    std::string item2 = pivot;
    if (OnSortCompare)
        OnSortCompare(const_cast<TZipView*>(this), item1, item2, SortColumn);
    int result;
    if (SortKind >= skDateTime && SortKind <= skFloat) {
        auto a = SortValue(item1, SortKind), b = SortValue(item2, SortKind);
        // A cell that is no value of the kind (an empty size, say) sorts before every value
        // instead of ending the sort.
        if (a && b)
            result = CompareValues(*a, *b, SortKind);
        else
            result = a ? 1 : b ? -1 : win::AnsiCompareText(item1, item2);
    } else {
        result = win::AnsiCompareText(item1, item2);
    }
    result = result < 0 ? -1 : result > 0 ? 1 : 0;
    return SortDirection == 1 ? -result : result;
}

void TZipView::Sort()
{
    int count = Items.Count();
    if (count == 0 || SortColumn < 0)
        return;
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    const auto& rows = Items.rows_;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const auto& pivotRow = rows[size_t(b)];
        const size_t col = size_t(SortColumn);
        std::string pivot = col < pivotRow.size() ? pivotRow[col] : std::string();
        return CompareRows(rows[size_t(a)], pivot) < 0;
    });
    std::vector<std::vector<std::string>> sorted;
    sorted.reserve(size_t(count));
    for (int i : order)
        sorted.push_back(std::move(Items.rows_[size_t(i)]));
    VertScrollBar().SetThumbValue(0);
    listBox_->SetTopIndex(0);
    Items.BeginUpdate();
    Items.Clear();
    for (auto& row : sorted)
        Items.AddFields(std::move(row));
    Items.EndUpdate();
}

// ---- positions -------------------------------------------------------------------------------

int TZipView::ItemAtPos(TPoint p) const
{
    return listBox_->ItemAtPos(p, true);
}

int TZipView::ColumnAtPos(int x) const
{
    // x is a list-box coordinate; the list box already moves with the horizontal scroll.
    int left = 0;
    for (int i = 0; i < SectionCount(); ++i) {
        int w = header_->Sections(i)->Width;
        if (x >= left && x < left + w)
            return i;
        left += w;
    }
    return -1;
}

// ---- icons -----------------------------------------------------------------------------------

const TImageList& TZipView::Icons() const
{
    return ImageList == imSmallImages ? *smallIcons_ : *largeIcons_;
}

int TZipView::GetIconIndex(int row) const
{
    if (row < 0)
        return row;
    return FileTypeIconIndex(GetColumnText(row, 0));
}

// ---- drawing ---------------------------------------------------------------------------------

void TZipView::DrawRow(int index, const TRect& rect, TOwnerDrawState state)
{
    TCanvas& c = listBox_->Canvas;
    bool selected = state & odSelected;
    TColor background = selected ? SelectColor : listBox_->Color;
    c.Brush.Color = background;
    c.Brush.Style = bsSolid;
    c.FillRect(rect);
    c.Font = listBox_->Font;
    if (selected)
        c.Font.Color = clWhite;
    int x = 0;  // columns line up with the header's sections, which start at the list box's edge
    int iconRoom = 0;
    if (ShowIcons) {
        TBitmap icon = Icons().Image(GetIconIndex(index));
        icon.Transparent = TransparentImage;
        // Icons of the large list are drawn shrunk to the row.
        int size = std::min(16, rect.Height());
        c.StretchDraw(Bounds(x + 2, rect.Top + (rect.Height() - size) / 2, size, size), icon);
        iconRoom = IconRoom;
    }
    const auto& fields = Items.Fields(index);
    for (int col = 0; col < SectionCount(); ++col) {
        int width = header_->Sections(col)->Width;
        TRect cell = Rect(x, rect.Top, x + width, rect.Bottom);
        int textLeft = cell.Left + 2 + (col == 0 ? iconRoom : 0);
        c.Brush.Color = background;
        if (size_t(col) < fields.size()) {
            const std::string& text = fields[size_t(col)];
            const TAlignment alignment = header_->Sections(col)->Alignment;
            int textX = textLeft;
            if (alignment != taLeftJustify) {
                const int room = cell.Right - 1 - 3 - textLeft;
                const int spare = room - c.TextWidth(text);
                if (spare > 0)
                    textX += alignment == taCenter ? spare / 2 : spare;
            }
            c.TextRect(Rect(textLeft, cell.Top, cell.Right - 1, cell.Bottom), textX,
                       cell.Top + (rect.Height() - c.TextHeight("Ag")) / 2, text);
        }
        x += width;
        if (SeperatorWidth > 0) {
            c.Brush.Color = SeperatorColor;
            c.FillRect(Rect(x - SeperatorWidth, rect.Top, x, rect.Bottom));
        }
    }
    c.Font.Color = listBox_->Font.Color;
    if (state & odFocused)
        c.DrawFocusRect(rect);
}

void TZipView::DrawSection(THeaderControl* header, THeaderSection* s, const TRect& r, bool pressed)
{
    TCanvas& c = header->Canvas;
    TRect edge = r;
    c.Frame3D(edge, pressed ? clBtnShadow : clBtnHighlight, pressed ? clBtnHighlight : clBtnShadow, 1);
    c.Font = header->Font;
    if (pressed)
        c.Font.Color = clRed;
    TTextFormat f = tfSingleLine | (s->Alignment == taCenter         ? tfCenter
                                    : s->Alignment == taRightJustify ? tfRight
                                                                     : tfLeft);
    auto vpos = static_cast<TListHeader*>(header)->TextVPos;
    f |= vpos == dtCenter ? tfVerticalCenter : vpos == dtBottom ? tfBottom : 0;
    c.DrawText(Rect(r.Left + 4, r.Top + 1, r.Right - 4, r.Bottom - 1), s->Text, f);
}

// ---- cell expansion --------------------------------------------------------------------------

void TZipView::FreeLongEdit()
{
    delete longEdit_;
    longEdit_ = nullptr;
    expandRow_ = expandCol_ = -1;
}

void TZipView::ExpandCell(int x, int y)
{
    int row = ItemAtPos({x, y});
    int col = ColumnAtPos(x);
    if (row == expandRow_ && col == expandCol_)
        return;
    FreeLongEdit();
    if (row < 0 || col < 0)
        return;
    expandRow_ = row;
    expandCol_ = col;
    std::string text = GetColumnText(row, col);
    listBox_->Canvas.Font = listBox_->Font;
    TFont font = listBox_->Font;
    int textWidth = WidgetSet().TextExtent(text, font).cx;
    int room = header_->Sections(col)->Width - (col == 0 && ShowIcons ? IconRoom : 0);
    if (textWidth <= room)
        return;
    int left = 0;
    for (int i = 0; i < col; ++i)
        left += header_->Sections(i)->Width;
    TRect item = listBox_->ItemRect(row);
    longEdit_ = new TLongEdit(this);
    longEdit_->ReadOnly = true;
    longEdit_->TabStop = false;
    longEdit_->SetParent(this);
    longEdit_->SetText(text);
    longEdit_->SetBounds(listBox_->Left() + left, listBox_->Top() + item.Top, textWidth + 8, item.Height());
}

// ---- dropped files ---------------------------------------------------------------------------

void TZipView::DropFiles(const std::vector<std::string>& names)
{
    std::string fileSpec = "*.*";
    if (OnDroppedFilesStart) {
        OnDroppedFilesStart(this, fileSpec);
        if (fileSpec.empty())
            fileSpec = "*.*";
    }
    TStringList list;
    std::vector<std::unique_ptr<TFoundData>> found;
    for (const std::string& dropped : names) {
        auto data = std::make_unique<TFoundData>();
        std::string name = dropped;
        HANDLE h = FindFirstFileA(name.c_str(), &data->FindData);
        if (h != INVALID_HANDLE_VALUE) {
            FindClose(h);
            // A folder stands for those of its files that match the mask.
            if (data->FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (name.empty() || name.back() != '\\')
                    name += '\\';
                name += fileSpec;
            }
        } else {
            data->FindData = WIN32_FIND_DATAA{};
        }
        list.Add(name, data.get());
        found.push_back(std::move(data));
    }
    if (list.Count() > 0 && OnDroppedFiles)
        OnDroppedFiles(this, &list);
    if (OnDroppedFilesEnd)
        OnDroppedFilesEnd(this);
}
