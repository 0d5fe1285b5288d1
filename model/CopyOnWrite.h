#pragma once

#include <initializer_list>
#include <memory>
#include <utility>

namespace qor::model {

// A standard container whose copies share one instance until one of them is
// written, so that copying a modelling state costs a few reference counts
// however long the history is. Reading through a const object never copies; a
// non-const access first makes the instance this object's own. References and
// iterators taken through a non-const access are therefore valid for writing
// only until the object is copied next.
template <class C> class CopyOnWrite {
public:
    using value_type = typename C::value_type;
    using size_type = typename C::size_type;
    using iterator = typename C::iterator;
    using const_iterator = typename C::const_iterator;

    CopyOnWrite() = default;
    CopyOnWrite(std::initializer_list<value_type> values)
        : data_(std::make_shared<C>(values))
    {
    }

    const C& get() const { return data_ ? *data_ : empty_; }
    C& edit()
    {
        if (!data_)
            data_ = std::make_shared<C>();
        else if (data_.use_count() > 1)
            data_ = std::make_shared<C>(*data_);
        return *data_;
    }
    operator const C&() const { return get(); }

    auto begin() const { return get().begin(); }
    auto end() const { return get().end(); }
    auto begin() { return edit().begin(); }
    auto end() { return edit().end(); }
    auto rbegin() const { return get().rbegin(); }
    auto rend() const { return get().rend(); }
    auto rbegin() { return edit().rbegin(); }
    auto rend() { return edit().rend(); }
    size_type size() const { return get().size(); }
    bool empty() const { return get().empty(); }

    template <class K> size_type count(const K& key) const { return get().count(key); }
    template <class K> bool contains(const K& key) const { return get().contains(key); }
    template <class K> auto find(const K& key) const { return get().find(key); }
    template <class K> auto find(const K& key) { return edit().find(key); }
    template <class K> decltype(auto) at(const K& key) const { return get().at(key); }
    template <class K> decltype(auto) at(const K& key) { return edit().at(key); }
    template <class K> decltype(auto) operator[](const K& key) { return edit()[key]; }
    template <class K> decltype(auto) operator[](const K& key) const { return get()[key]; }
    decltype(auto) front() const { return get().front(); }
    decltype(auto) back() const { return get().back(); }
    decltype(auto) front() { return edit().front(); }
    decltype(auto) back() { return edit().back(); }

    template <class... A> decltype(auto) emplace(A&&... args)
    {
        return edit().emplace(std::forward<A>(args)...);
    }
    template <class... A> decltype(auto) insert(A&&... args)
    {
        return edit().insert(std::forward<A>(args)...);
    }
    template <class... A> decltype(auto) erase(A&&... args)
    {
        return edit().erase(std::forward<A>(args)...);
    }
    template <class... A> decltype(auto) push_back(A&&... args)
    {
        return edit().push_back(std::forward<A>(args)...);
    }
    template <class... A> decltype(auto) emplace_back(A&&... args)
    {
        return edit().emplace_back(std::forward<A>(args)...);
    }
    void clear() { data_.reset(); }

private:
    static inline const C empty_{};
    std::shared_ptr<C> data_;
};

} // namespace qor::model
