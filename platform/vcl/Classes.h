// The string list and the component (owner, name, loading state).
#pragma once

#include "platform/vcl/Types.h"

#include <string>
#include <vector>

namespace vcl {

// A list of strings with an object per line; controls listen to OnChange to show it.
class TStringList : public TObject {
public:
    int Count() const { return int(items_.size()); }
    const std::string& operator[](int i) const { return items_.at(size_t(i)).text; }
    const std::string& Strings(int i) const { return (*this)[i]; }
    void SetString(int i, const std::string& s);
    TObject* Objects(int i) const { return items_.at(size_t(i)).object; }
    void SetObject(int i, TObject* o) { items_.at(size_t(i)).object = o; }
    int Add(const std::string& s, TObject* object = nullptr);  // the index it went to (sorted lists sort)
    void Insert(int i, const std::string& s, TObject* object = nullptr);
    void Delete(int i);
    void Clear();
    int IndexOf(const std::string& s) const;  // case-insensitive, as the library compares
    void Assign(const TStringList& other);
    void Sort();
    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);
    // Lines joined by "\r\n" / set from text split at line breaks.
    std::string Text() const;
    void SetText(const std::string& text);
    std::string CommaText() const;
    // Counted: OnChange fires once at the outermost EndUpdate when something changed.
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    TNotifyEvent OnChange;

private:
    struct Item {
        std::string text;
        TObject* object;
    };
    void Changed();
    std::vector<Item> items_;
    bool sorted_ = false;
    int updateCount_ = 0;
    bool changedInUpdate_ = false;
};
using TStrings = TStringList;

constexpr unsigned csLoading = 1, csDestroying = 2;

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    std::string Name;
    int Tag = 0;
    int ComponentCount() const { return int(components_.size()); }
    TComponent* Components(int i) const { return components_.at(size_t(i)); }
    TComponent* FindComponent(const std::string& name) const;
    unsigned ComponentState = 0;
    bool IsLoading() const { return ComponentState & csLoading; }
    // Marks this and its owned components as loading; EndLoading clears that and calls Loaded on
    // each, owned components first.
    void BeginLoading();
    void EndLoading();
    virtual void Loaded() {}
    virtual std::string ClassName() const { return "TComponent"; }

private:
    TComponent* owner_;
    std::vector<TComponent*> components_;
};

}  // namespace vcl
