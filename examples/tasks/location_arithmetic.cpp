// Example: a table location parsed from text and added to.
//
// A two-part location "<word>.<bit>" (word 0 to 999 decimal, bit 0 to 15
// decimal) is parsed, stepped and added to; a bit that runs past 15 carries
// into the word, as the location's definition says. Exits nonzero when the
// library answers anything else.
#include <kelvara/Kelvara.h>

#include <cstdio>

int main() {
    // The location is its innermost component (the bit), which owns the next
    // one out (the word) as its friend; the word's text ends with the
    // delimiter, so its width counts it.
    CQZLocation location(TableOffsetRange{0, 15}, QZLocationDescriptor{1, LR_DECIMAL, 2, 1});
    auto* pWord =
        new CQZLocation(TableOffsetRange{0, 999}, QZLocationDescriptor{1, LR_DECIMAL, 4, 1});
    CString delimiter(".");
    pWord->AttatchDelimiter(&delimiter);
    location.AttatchFriendLocation(pWord);

    CString text("012.14");
    if (!location.Update(&text)) {
        std::printf("parse failed: error %d\n", location.GetLocationError());
        return 1;
    }
    CString shown;
    location.Format(shown);
    std::printf("parsed   %s\n", shown.GetString());

    ++location;  // 012.15
    location.Format(shown);
    std::printf("stepped  %s\n", shown.GetString());
    const bool stepped = shown == "012.15";

    location += 3;  // three bits on: the bit carries into the word, 013.02
    location.Format(shown);
    std::printf("added 3  %s (valid %d)\n", shown.GetString(), location.IsValid());
    const bool added = shown == "013.02" && location.IsValid() == 1;
    return stepped && added ? 0 : 1;
}
