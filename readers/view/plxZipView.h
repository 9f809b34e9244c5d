// The archive list view: rows of columns under a header, owner drawn, sorted by a clicked column,
// with an icon per file type and files dropped onto it handed to the host.
//
// Rows keep their fields apart. Callers that join the columns with the delimiter (Items.Add) still
// work, but a name that holds the delimiter only stays in its column when the row is added as
// fields (Items.AddFields).
#pragma once

#include "platform/vcl/ComCtrls.h"
#include "platform/win/FileTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Scroll bar change events of TScrlBox.
using TScrlEvent = std::function<void(vcl::TObject* Sender, vcl::TScrollBarKind Kind)>;
using TWinDropFilesEvent = std::function<void(vcl::TObject* Sender, vcl::TStringList* FileList)>;
using TDroppedFilesStartEvent = std::function<void(vcl::TObject* Sender, std::string& FileSpec)>;
using TCompareEvent = std::function<void(vcl::TObject* Sender, std::string& Item1, std::string& Item2, int Column)>;

// One of the two scroll bars of a TScrlBox; every change reaches the bar on screen.
class TScrlBar {
public:
    explicit TScrlBar(vcl::TScrollBar* bar);
    int SmallChange() const { return bar_->SmallChange; }
    void SetSmallChange(int v) { bar_->SmallChange = v; }
    int LargeChange() const { return bar_->LargeChange; }
    void SetLargeChange(int v) { bar_->LargeChange = v; }
    int ThumbValue() const { return bar_->Position(); }
    void SetThumbValue(int v) { bar_->SetPosition(v); }
    int Max() const { return bar_->Max; }
    void SetRange(int min, int max) { bar_->SetParams(bar_->Position(), min, max); }
    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    vcl::TScrollBar* Bar() const { return bar_; }

private:
    vcl::TScrollBar* bar_;
    bool visible_ = true;
};
using THorzScrollBar = TScrlBar;
using TVertScrollBar = TScrlBar;

// A control with its own horizontal and vertical scroll bars (shown when needed by the owner).
class TScrlBox : public vcl::TCustomControl {
public:
    explicit TScrlBox(vcl::TComponent* owner);
    std::string ClassName() const override { return "TScrlBox"; }
    bool BorderSingle = true;
    THorzScrollBar& HorzScrollBar() { return *horz_; }
    TVertScrollBar& VertScrollBar() { return *vert_; }
    TScrlEvent OnChange;
    TDroppedFilesStartEvent OnDroppedFilesStart;
    vcl::TNotifyEvent OnDroppedFilesEnd;
    void Paint() override;

protected:
    // The area inside the border and beside the visible scroll bars.
    vcl::TRect ViewArea() const;
    void PlaceScrollBars();
    static constexpr int BarSize = 16;

private:
    std::unique_ptr<TScrlBar> horz_, vert_;
};

// The find data of one dropped file, the object of its line in the dropped-files list.
class TFoundData : public vcl::TObject {
public:
    WIN32_FIND_DATAA FindData{};
};

// The full text of a cut-off cell, shown over it.
class TLongEdit : public vcl::TEdit {
public:
    using vcl::TEdit::TEdit;
    std::string ClassName() const override { return "TLongEdit"; }
};

// The header; keeps the widths of its sections and draws their captions itself.
enum THeaderVertPos { dtBottom, dtCenter, dtTop };
class TListHeader : public vcl::THeaderControl {
public:
    explicit TListHeader(vcl::TComponent* owner);
    std::string ClassName() const override { return "TListHeader"; }
    THeaderVertPos TextVPos = dtCenter;
};

// Columns as the main window fills them from the listing.
enum TZipViewColumn {
    zcName,
    zcDateTime,
    zcPacked,
    zcUnpacked,
    zcRatio,
    zcMethod,
    zcAttributes,
    zcFolder,
    zcFileType,
    zcCrc,
    zcOffset,
    zcEncrypted,
    zcVersionMadeBy,
    zcHostSystem,
    zcVolume,
    zcFileIndex,
    zcComment,
    zcColumnCount
};

class TZipView;

// The rows of the view.
class TZipViewItems {
public:
    explicit TZipViewItems(TZipView& view) : view_(view) {}
    // A row given as one text whose columns are joined by the view's delimiter.
    int Add(const std::string& text);
    // A row given as its fields: what a field holds never moves it to another column.
    int AddFields(std::vector<std::string> fields);
    int Count() const { return int(rows_.size()); }
    // The row's fields joined by the delimiter.
    std::string operator[](int index) const;
    const std::vector<std::string>& Fields(int index) const { return rows_.at(size_t(index)); }
    void Delete(int index);
    void Clear();
    void BeginUpdate();
    void EndUpdate();

private:
    friend class TZipView;
    TZipView& view_;
    std::vector<std::vector<std::string>> rows_;
};

// The owner-drawn list box that holds the rows.
class TplxListBox : public vcl::TListBox {
public:
    TplxListBox(vcl::TComponent* owner, TZipView& view);
    std::string ClassName() const override { return "TplxListBox"; }
    void DrawItem(int index, const vcl::TRect& rect, vcl::TOwnerDrawState state) override;
    void MouseMove(vcl::TShiftState shift, int x, int y) override;

private:
    TZipView& view_;
};

enum TImageSize { imLargeImages, imSmallImages };

// Sort kinds the host chooses per column.
constexpr std::uint8_t skText = 0, skDateTime = 1, skTime = 2, skInteger = 3, skFloat = 4;

class TZipView : public TScrlBox {
public:
    explicit TZipView(vcl::TComponent* owner);
    ~TZipView() override;
    std::string ClassName() const override { return "TZipView"; }

    std::string Delimiter = ";";
    bool HeaderEnabled = true;
    bool ShowIcons = true;
    bool ExpandColText = true;
    bool TransparentImage = false;
    TImageSize ImageList = imSmallImages;
    vcl::TColor SelectColor = 0x008000;
    vcl::TColor SeperatorColor = 0xC0C0C0;
    int SeperatorWidth = 1;

    TZipViewItems Items;
    TListHeader* Header() const { return header_; }
    TplxListBox* ListBox() const { return listBox_; }
    vcl::THeaderSection* HeaderSection(int index) const { return header_->Sections(index); }
    int SectionCount() const { return header_->SectionCount(); }

    void SetEnabled(bool enabled) override;
    bool MultiSelect() const;
    void SetMultiSelect(bool v);
    bool ExtendedSelect() const;
    void SetExtendedSelect(bool v);
    int HeaderHeight() const { return headerHeight_; }
    void SetHeaderHeight(int height);
    bool HeaderVisible() const { return headerVisible_; }
    void SetHeaderVisible(bool visible);
    vcl::TFont& HeaderFont() { return header_->Font; }
    THeaderVertPos HeaderTextVPos() const { return header_->TextVPos; }
    void SetHeaderTextVPos(THeaderVertPos pos);
    int ItemHeight() const;
    void SetItemHeight(int height);
    void SetColor(vcl::TColor color);
    void SetFont(const vcl::TFont& font);

    // Rows.
    void Clear();          // also forgets the sort column
    int DeleteSelected();  // the number of rows removed
    int GetItemIndex() const;
    int GetSelCount() const;
    bool GetSelected(int index) const;
    void SetSelected(int index, bool selected);
    void SetSorted(bool sorted);
    void SetFocus();
    // The text of a cell; empty for a row or column outside the view.
    std::string GetColumnText(int row, int col) const;

    // Sorting: the host sets SortKind in OnHeaderClick and calls Sort.
    int SortColumn = -1;
    int SortDirection = 0;  // 0 ascending, 1 descending
    std::uint8_t SortKind = skText;
    void Sort();
    // The header's click on a section (also what a mouse click on it runs).
    void HeaderClick(vcl::THeaderSection* section);

    // Positions in the list box's client coordinates.
    int ItemAtPos(vcl::TPoint p) const;
    // The column under x (the horizontal scroll taken into account); -1 past the last section.
    int ColumnAtPos(int x) const;

    // The icon of a row's file type, and the lists the icons come from.
    int GetIconIndex(int row) const;
    const vcl::TImageList& Icons() const;

    // Files dropped onto the view (from the desktop or another program).
    void DropFiles(const std::vector<std::string>& names);

    vcl::TSectionNotifyEvent OnHeaderClick;
    TCompareEvent OnSortCompare;
    TWinDropFilesEvent OnDroppedFiles;
    // OnClick, OnDblClick, OnKeyDown, OnKeyPress, OnKeyUp and the mouse events of the view come
    // from the list box.

    TLongEdit* LongEdit() const { return longEdit_; }
    void Loaded() override;

protected:
    void Resize() override;

private:
    friend class TplxListBox;
    friend class TZipViewItems;
    void RowsChanged();
    void LayoutChildren();
    void DrawRow(int index, const vcl::TRect& rect, vcl::TOwnerDrawState state);
    void DrawSection(vcl::THeaderControl* header, vcl::THeaderSection* section, const vcl::TRect& rect, bool pressed);
    void ExpandCell(int x, int y);
    void FreeLongEdit();
    int CompareRows(const std::vector<std::string>& row, const std::string& pivot) const;
    std::vector<std::string> SplitRow(const std::string& text) const;
    std::string JoinRow(const std::vector<std::string>& fields) const;

    TListHeader* header_;
    TplxListBox* listBox_;
    std::unique_ptr<vcl::TImageList> smallIcons_, largeIcons_;
    int headerHeight_ = 21;
    bool headerVisible_ = true;
    int updateCount_ = 0;
    TLongEdit* longEdit_ = nullptr;
    int expandRow_ = -1, expandCol_ = -1;
};

// The icon index of a file name by its type; the name need not exist.
int FileTypeIconIndex(const std::string& name);
