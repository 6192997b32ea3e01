// voice_list.h — the engine's list of voices: records that stay where they
// are while the list around them is rebuilt.
//
// Index
//   RecordList           a vector-like list of shared records (size, [], iteration, push_back, ...)
//
// Each voice lives in a record of its own, owned by shared pointers. A list
// that drops, reorders or grows its voices is made beside the live one
// (copying pointers, never voices), and the two lists change places under
// the engine lock in one swap, whatever the number of voices; the records a
// new list no longer holds are freed once the old list goes, outside the
// lock. A voice replaced by its rebuilt self changes one pointer.
//
// Reading an element (operator[], iteration) only follows a pointer: the
// audio thread may do it. Adding (push_back of a voice) allocates its record:
// never under the engine lock; push_back of a record made beforehand does not
// allocate while the capacity lasts.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

template <class T>
class RecordList {
    using Items = std::vector<std::shared_ptr<T>>;

public:
    template <class Base, class Value>
    class Iter {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;
        Iter() = default;
        explicit Iter(Base at) : at_(at) {}
        reference operator*() const { return **at_; }
        pointer operator->() const { return at_->get(); }
        reference operator[](difference_type n) const { return *at_[n]; }
        Iter& operator++() {
            ++at_;
            return *this;
        }
        Iter operator++(int) { return Iter(at_++); }
        Iter& operator--() {
            --at_;
            return *this;
        }
        Iter operator--(int) { return Iter(at_--); }
        Iter& operator+=(difference_type n) {
            at_ += n;
            return *this;
        }
        Iter& operator-=(difference_type n) {
            at_ -= n;
            return *this;
        }
        friend Iter operator+(Iter i, difference_type n) { return i += n; }
        friend Iter operator+(difference_type n, Iter i) { return i += n; }
        friend Iter operator-(Iter i, difference_type n) { return i -= n; }
        friend difference_type operator-(const Iter& a, const Iter& b) { return a.at_ - b.at_; }
        friend bool operator==(const Iter& a, const Iter& b) { return a.at_ == b.at_; }
        friend auto operator<=>(const Iter& a, const Iter& b) { return a.at_ <=> b.at_; }

    private:
        Base at_{};
    };
    using iterator = Iter<typename Items::iterator, T>;
    using const_iterator = Iter<typename Items::const_iterator, const T>;

    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    size_t capacity() const { return items_.capacity(); }
    void reserve(size_t n) { items_.reserve(n); }

    T& operator[](size_t i) { return *items_[i]; }
    const T& operator[](size_t i) const { return *items_[i]; }
    T& front() { return *items_.front(); }
    const T& front() const { return *items_.front(); }
    T& back() { return *items_.back(); }
    const T& back() const { return *items_.back(); }

    iterator begin() { return iterator(items_.begin()); }
    iterator end() { return iterator(items_.end()); }
    const_iterator begin() const { return const_iterator(items_.begin()); }
    const_iterator end() const { return const_iterator(items_.end()); }

    // A new record holding `value` (allocates).
    void push_back(T&& value) { items_.push_back(std::make_shared<T>(std::move(value))); }
    void push_back(const T& value) { items_.push_back(std::make_shared<T>(value)); }
    T& emplace_back() {
        items_.push_back(std::make_shared<T>());
        return *items_.back();
    }
    // A record made beforehand: no allocation while the capacity lasts.
    void PushRecord(std::shared_ptr<T> record) { items_.push_back(std::move(record)); }
    void pop_back() { items_.pop_back(); }
    void resize(size_t n) {
        const size_t old = items_.size();
        items_.resize(n);
        for (size_t i = old; i < n; ++i) items_[i] = std::make_shared<T>();
    }
    void clear() { items_.clear(); }
    void swap(RecordList& other) { items_.swap(other.items_); }

    // The record at i, shared (for a list made beside this one).
    const std::shared_ptr<T>& Record(size_t i) const { return items_[i]; }
    // Puts `record` at i; `record` comes back holding the old one, to be
    // dropped by the caller (outside the engine lock).
    void SwapRecord(size_t i, std::shared_ptr<T>& record) { items_[i].swap(record); }

private:
    Items items_;
};
