// Output lines of a bridge: news about the simulator at once, complaints about bad input at most
// once a second with a count of those held back.
#pragma once

#include <cstdint>
#include <string>

class Notices {
public:
    explicit Notices(std::string who) : who_(std::move(who)) {}
    // "WHO: text", at once.
    void Say(const std::string& text) const;
    // "WHO: text", unless a complaint was printed less than a second before now.
    void Complain(std::uint32_t now, const std::string& text);

private:
    std::string who_;
    std::uint32_t lastComplaint_ = 0;
    bool complained_ = false;
    unsigned heldBack_ = 0;
};
