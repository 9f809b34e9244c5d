// Common controls: list view (report style), header control, status bar, progress bar, image list.
#pragma once

#include "platform/vcl/StdCtrls.h"

#include <memory>

namespace vcl {

class TImageList : public TComponent {
public:
    explicit TImageList(TComponent* owner) : TComponent(owner) {}
    std::string ClassName() const override { return "TImageList"; }
    int Width = 16, Height = 16;
    int Count() const { return int(images_.size()); }
    int Add(const TBitmap& image);  // scaled to Width x Height; the index it got
    // Transparent where the image has maskColor (clNone: its bottom-left pixel).
    int AddMasked(const TBitmap& image, TColor maskColor);
    void Clear() { images_.clear(); }
    const TBitmap& Image(int index) const { return images_.at(size_t(index)); }
    // Draws an image; a disabled image is drawn greyed and lightened. Out-of-range indexes draw nothing.
    void Draw(TCanvas& canvas, int x, int y, int index, bool enabled = true) const;

private:
    std::vector<TBitmap> images_;
};

class TListView;

class TListItem {
public:
    std::string Caption;
    TStringList SubItems;
    void* Data = nullptr;
    int ImageIndex = -1;
    bool Selected() const { return selected_; }
    void SetSelected(bool selected);
    int Index() const;
    TListView* Owner() const { return owner_; }

private:
    friend class TListView;
    TListView* owner_ = nullptr;
    bool selected_ = false;
};

struct TListColumn {
    std::string Caption;
    int Width = 50;
    TAlignment Alignment = taLeftJustify;
};

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };
using TLVCompareEvent =
    std::function<void(TObject* Sender, TListItem* Item1, TListItem* Item2, int Data, int& Compare)>;
using TLVColumnClickEvent = std::function<void(TObject* Sender, TListColumn* Column)>;
using TLVSelectItemEvent = std::function<void(TObject* Sender, TListItem* Item, bool Selected)>;
using TLVCustomSort = std::function<int(TListItem* a, TListItem* b, int data)>;

class TListView : public TCustomControl {
public:
    explicit TListView(TComponent* owner);
    ~TListView() override;
    std::string ClassName() const override { return "TListView"; }
    TViewStyle ViewStyle = vsReport;
    bool MultiSelect = false;
    bool RowSelect = true;
    bool GridLines = false;
    bool ReadOnly = true;
    bool ShowColumnHeaders = true;
    TImageList* SmallImages = nullptr;

    std::vector<TListColumn> Columns;
    TListColumn& AddColumn(const std::string& caption, int width, TAlignment alignment = taLeftJustify);
    int ItemCount() const { return int(items_.size()); }
    TListItem* Items(int i) const { return items_.at(size_t(i)).get(); }
    TListItem* AddItem();
    TListItem* InsertItem(int index);
    void DeleteItem(int index);
    void Clear();
    int SelCount() const;
    TListItem* Selected() const;        // the first selected item
    void SetSelected(TListItem* item);  // selects only this one (nullptr: none)
    void ClearSelection();
    TListItem* ItemFocused = nullptr;
    int TopIndex() const { return topIndex_; }
    TListItem* GetItemAt(int x, int y) const;
    // Counted; the list is repainted and OnChange fired once at the outermost EndUpdate.
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    bool Updating() const { return updateCount_ > 0; }
    // Sorts by fn (or OnCompare when fn is empty); false when neither is there.
    bool CustomSort(const TLVCustomSort& fn, int data);
    bool AlphaSort() { return CustomSort(nullptr, 0); }
    int RowHeight() const { return Font.PixelHeight() + 4; }
    int HeaderHeight() const { return ShowColumnHeaders ? 19 : 0; }

    TNotifyEvent OnChange;
    TLVCompareEvent OnCompare;
    TLVColumnClickEvent OnColumnClick;
    TLVSelectItemEvent OnSelectItem;

    void Paint() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void KeyDown(WORD& key, TShiftState shift) override;
    std::string ShownText() const override;

private:
    friend class TListItem;
    void ItemSelectionChanged(TListItem* item);
    void Changed();
    std::vector<std::unique_ptr<TListItem>> items_;
    int topIndex_ = 0;
    int updateCount_ = 0;
    bool changedInUpdate_ = false;
};

class THeaderControl;
struct THeaderSection {
    std::string Text;
    int Width = 50;
    int MinWidth = 0, MaxWidth = 10000;
    TAlignment Alignment = taLeftJustify;
    bool AllowClick = true;
    int Index = 0;
    int Left = 0;  // kept by the header
};
using TSectionNotifyEvent = std::function<void(THeaderControl* HeaderControl, THeaderSection* Section)>;
using TDrawSectionEvent =
    std::function<void(THeaderControl* HeaderControl, THeaderSection* Section, const TRect& Rect, bool Pressed)>;

class THeaderControl : public TCustomControl {
public:
    explicit THeaderControl(TComponent* owner);
    ~THeaderControl() override;
    std::string ClassName() const override { return "THeaderControl"; }
    int SectionCount() const { return int(sections_.size()); }
    THeaderSection* Sections(int i) const { return sections_.at(size_t(i)).get(); }
    THeaderSection* AddSection(const std::string& text, int width);
    void ClearSections();
    void SetSectionWidth(int index, int width);  // within the section's limits; fires OnSectionResize
    int TotalWidth() const;
    int SectionAt(int x) const;  // -1 outside every section
    bool HotTrack = false;
    TSectionNotifyEvent OnSectionClick, OnSectionResize;
    TDrawSectionEvent OnDrawSection;  // owner drawing of the sections when assigned
    void Paint() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    std::string ShownText() const override;

private:
    void UpdateLefts();
    std::vector<std::unique_ptr<THeaderSection>> sections_;
    int pressedSection_ = -1;
};

enum TStatusPanelBevel { pbNone, pbLowered, pbRaised };
struct TStatusPanel {
    TControlText Text;
    int Width = 50;
    TAlignment Alignment = taLeftJustify;
    TStatusPanelBevel Bevel = pbLowered;
};

class TStatusBar : public TWinControl {
public:
    explicit TStatusBar(TComponent* owner);
    std::string ClassName() const override { return "TStatusBar"; }
    std::vector<TStatusPanel> Panels;
    TStatusPanel& AddPanel(const std::string& text, int width);
    TControlValue<bool> SimplePanel{this, false};
    TControlText SimpleText{this};
    bool SizeGrip = true;
    void Paint() override;
    std::string ShownText() const override;
};

class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TComponent* owner);
    std::string ClassName() const override { return "TProgressBar"; }
    TControlKind Kind() const override { return ckProgressBar; }
    int Min = 0, Max = 100, Step = 10;
    int Position() const { return position_; }
    void SetPosition(int position);  // clamped to Min..Max
    void StepIt() { SetPosition(position_ + Step >= Max ? Min + (position_ + Step - Max) : position_ + Step); }
    void StepBy(int delta) { SetPosition(position_ + delta); }
    TColor BarColor = clHighlight;
    void Paint() override;

private:
    int position_ = 0;
};

}  // namespace vcl
