#include <gtest/gtest.h>

#include <QStringEncoder>

#include "store/KeywordFile.h"

namespace vorelta {
namespace {

QByteArray Encoded(const char* encoding, const QString& text) {
    QStringEncoder encoder(encoding);
    return encoder(text);
}

TEST(KeywordFileTest, AByteOrderMarkDecidesElseUtf8ElseGb18030AndEveryLineEndIsCrLf) {
    const QString lines = QStringLiteral(u"中奖\r\n发票");
    const struct {
        const char* what;
        QByteArray bytes;
        std::optional<QString> text;
    } cases[] = {
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + lines.toUtf8(), lines},
        {"UTF-16 LE with a mark", "\xFF\xFE" + Encoded("UTF-16LE", lines), lines},
        {"UTF-16 BE with a mark", "\xFE\xFF" + Encoded("UTF-16BE", lines), lines},
        {"UTF-8 without a mark", lines.toUtf8(), lines},
        {"GB18030", Encoded("GB18030", lines), lines},
        {"LF, CR and CR LF, and one at the end", "a\nb\rc\r\nd\r\n",
         QStringLiteral("a\r\nb\r\nc\r\nd")},
        {"a lone CR inside a line ends it", "ab\rcd", QStringLiteral("ab\r\ncd")},
        {"blank lines stay", "a\n\n\nb", QStringLiteral("a\r\n\r\n\r\nb")},
        {"empty", "", QString()},
        {"a NUL: no text", QByteArray("a\0b", 3), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeKeywordFile(c.bytes), c.text) << c.what;
    }
}

}  // namespace
}  // namespace vorelta
