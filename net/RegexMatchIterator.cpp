#include "RegexMatchIterator.h"

struct RegexMatchIterator::Compiled {
    regex_t regex;
    int flags = 0;
    bool ok = false;
    Compiled(const std::string& pattern, int cflags) : flags(cflags) {
        ok = regcomp(&regex, pattern.c_str(), cflags) == 0;
    }
    ~Compiled() {
        if (ok) regfree(&regex);
    }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;
};

RegexMatchIterator::RegexMatchIterator(const std::string& pattern, const std::string& text, int flags)
    : compiled_(std::make_shared<const Compiled>(pattern, flags)),
      text_(std::make_shared<const std::string>(text)) {
    // REG_NOSUB leaves the match's place unknown, so there is nowhere to go on from.
    if (!compiled_->ok || (flags & REG_NOSUB)) return;
    position_ = 0;
    Search();
}

RegexMatchIterator& RegexMatchIterator::operator++() {
    if (!AtEnd()) Search();
    return *this;
}

RegexMatchIterator RegexMatchIterator::operator++(int) {
    RegexMatchIterator before = *this;
    ++*this;
    return before;
}

bool RegexMatchIterator::operator==(const RegexMatchIterator& other) const {
    if (AtEnd() || other.AtEnd()) return AtEnd() && other.AtEnd();
    return compiled_ == other.compiled_ && text_ == other.text_ && position_ == other.position_;
}

void RegexMatchIterator::Search() {
    groups_.clear();
    const std::string& text = *text_;
    const size_t start = static_cast<size_t>(position_);
    if (start > text.size()) {
        position_ = -1;
        return;
    }
    // A search that starts inside a line must not let "^" match there.
    int eflags = 0;
    if (start > 0 && (!(compiled_->flags & REG_NEWLINE) || text[start - 1] != '\n')) eflags |= REG_NOTBOL;

    const char* subject = text.c_str() + start;
    const regmatch_t unused{-1, -1};
    std::vector<regmatch_t> slots(10, unused);
    for (;;) {
        if (regexec(&compiled_->regex, subject, slots.size(), slots.data(), eflags) != 0) {
            position_ = -1;
            return;
        }
        if (slots.back().rm_so == -1) break;
        slots.assign(slots.size() * 2, unused);
    }
    for (const regmatch_t& slot : slots) {
        if (slot.rm_so == -1) break;
        groups_.emplace_back(subject + slot.rm_so, static_cast<size_t>(slot.rm_eo - slot.rm_so));
    }
    if (groups_.empty()) {
        position_ = -1;
        return;
    }
    // An empty match would be found again at the same place: step over one character.
    size_t next = start + static_cast<size_t>(slots[0].rm_eo);
    if (slots[0].rm_eo == slots[0].rm_so) ++next;
    position_ = static_cast<long>(next);
}
