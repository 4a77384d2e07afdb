#pragma once
// Forward iterator over the non-overlapping matches of a POSIX regular
// expression in a text. Each match is its list of groups: the whole match,
// then every sub-match up to the first one that did not take part.

#include <regex.h>

#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

class RegexMatchIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::vector<std::string>;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;

    // The end iterator.
    RegexMatchIterator() = default;
    // Compiles pattern with the regcomp flags and finds the first match; a
    // pattern that does not compile, or REG_NOSUB, gives the end at once.
    RegexMatchIterator(const std::string& pattern, const std::string& text, int flags);

    reference operator*() const { return groups_; }
    pointer operator->() const { return &groups_; }
    RegexMatchIterator& operator++();
    RegexMatchIterator operator++(int);

    bool AtEnd() const { return position_ < 0; }
    // Iterators are equal when both are at the end, or when they walk the
    // same compiled expression and stand at the same place.
    bool operator==(const RegexMatchIterator& other) const;

private:
    struct Compiled;
    void Search();

    std::shared_ptr<const Compiled> compiled_;
    std::shared_ptr<const std::string> text_;
    long position_ = -1;  // where the next search starts; -1 = end
    std::vector<std::string> groups_;
};
