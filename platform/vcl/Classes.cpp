#include "platform/vcl/Classes.h"

#include "platform/win/Utf8.h"

#include <algorithm>

namespace vcl {

void TStringList::Changed()
{
    if (updateCount_ > 0) {
        changedInUpdate_ = true;
        return;
    }
    if (OnChange)
        OnChange(this);
}

void TStringList::EndUpdate()
{
    if (updateCount_ > 0 && --updateCount_ == 0 && changedInUpdate_) {
        changedInUpdate_ = false;
        Changed();
    }
}

void TStringList::SetString(int i, const std::string& s)
{
    items_.at(size_t(i)).text = s;
    Changed();
}

int TStringList::Add(const std::string& s, TObject* object)
{
    size_t at = items_.size();
    if (sorted_)
        at = size_t(
            std::upper_bound(items_.begin(), items_.end(), s,
                             [](const std::string& a, const Item& b) { return win::CompareText(a, b.text) < 0; }) -
            items_.begin());
    items_.insert(items_.begin() + at, Item{s, object});
    Changed();
    return int(at);
}

void TStringList::Insert(int i, const std::string& s, TObject* object)
{
    if (i < 0 || i > Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
    items_.insert(items_.begin() + i, Item{s, object});
    Changed();
}

void TStringList::Delete(int i)
{
    if (i < 0 || i >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
    items_.erase(items_.begin() + i);
    Changed();
}

void TStringList::Clear()
{
    if (items_.empty())
        return;
    items_.clear();
    Changed();
}

int TStringList::IndexOf(const std::string& s) const
{
    for (size_t i = 0; i < items_.size(); ++i)
        if (win::SameText(items_[i].text, s))
            return int(i);
    return -1;
}

void TStringList::Assign(const TStringList& other)
{
    items_ = other.items_;
    if (sorted_)
        Sort();
    Changed();
}

void TStringList::Sort()
{
    std::stable_sort(items_.begin(), items_.end(),
                     [](const Item& a, const Item& b) { return win::CompareText(a.text, b.text) < 0; });
    Changed();
}

void TStringList::SetSorted(bool sorted)
{
    if (sorted && !sorted_) {
        sorted_ = true;
        Sort();
    }
    sorted_ = sorted;
}

std::string TStringList::Text() const
{
    std::string out;
    for (const Item& item : items_)
        out += item.text + "\r\n";
    return out;
}

void TStringList::SetText(const std::string& text)
{
    BeginUpdate();
    Clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        Add(line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    changedInUpdate_ = true;
    EndUpdate();
}

std::string TStringList::CommaText() const
{
    std::string out;
    for (size_t i = 0; i < items_.size(); ++i)
        out += (i ? "," : "") + items_[i].text;
    return out;
}

TComponent::TComponent(TComponent* owner) : owner_(owner)
{
    if (owner) {
        owner->components_.push_back(this);
        if (owner->IsLoading())
            ComponentState |= csLoading;
    }
}

TComponent::~TComponent()
{
    ComponentState |= csDestroying;
    while (!components_.empty())
        delete components_.back();  // removes itself from components_
    if (owner_) {
        auto& list = owner_->components_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

TComponent* TComponent::FindComponent(const std::string& name) const
{
    for (TComponent* c : components_)
        if (win::SameText(c->Name, name))
            return c;
    return nullptr;
}

void TComponent::BeginLoading()
{
    ComponentState |= csLoading;
    for (TComponent* c : components_)
        c->BeginLoading();
}

void TComponent::EndLoading()
{
    for (size_t i = 0; i < components_.size(); ++i)
        components_[i]->EndLoading();
    if (IsLoading()) {
        ComponentState &= ~csLoading;
        Loaded();
    }
}

}  // namespace vcl
