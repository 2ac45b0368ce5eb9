// The insert's line split: the lines joined again with CR LF give back the text exactly, and no
// line holds a CR LF of its own.

#include "fuzz/FuzzInput.h"
#include "windows/edit/KeywordInsert.h"

using namespace vorelta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = fuzz::Utf16Units(data, size);
    const std::vector<QStringView> lines = KeywordLines(text);
    fuzz::Require(text.isEmpty() == lines.empty());
    QString joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        fuzz::Require(!lines[i].contains(u"\r\n"));
        if (i > 0) {
            joined += u"\r\n";
        }
        joined += lines[i];
    }
    fuzz::Require(joined == text);
    return 0;
}
