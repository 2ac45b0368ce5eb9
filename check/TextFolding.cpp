#include "check/TextFolding.h"

#include <opencc/opencc.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <QByteArray>
#include <QChar>
#include <QStringList>
#include <algorithm>
#include <unordered_map>

#include "base/RuntimeError.h"

namespace vorelta {

namespace {

// Not QString::fromUcs4, which takes a leading U+FEFF for a byte order mark and drops it.
QString TextOf(char32_t codePoint) {
    if (!QChar::requiresSurrogates(codePoint)) {
        return QString(QChar(char16_t(codePoint)));
    }
    const QChar pair[] = {QChar(QChar::highSurrogate(codePoint)),
                          QChar(QChar::lowSurrogate(codePoint))};
    return QString(pair, 2);
}

std::u32string CodePointsOf(QStringView text) {
    std::u32string codePoints;
    ForEachCodePoint(text, [&](char32_t c, qsizetype) { codePoints += c; });
    return codePoints;
}

QString InternalError(const QString& what) {
    return QStringLiteral(u"内部错误：") + what;
}

const icu::Normalizer2& NfkcCaseFold() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFKCCasefoldInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr) {
        throw RuntimeError(51, InternalError(QStringLiteral("ICU NFKC_Casefold: ") +
                                             QString::fromLatin1(u_errorName(status))));
    }
    return *normalizer;
}

// The NFKC_Casefold form of one code point; one that form removes stays itself.
std::u32string CompatibilityCaseFold(const icu::Normalizer2& normalizer, char32_t c) {
    if (normalizer.isInert(UChar32(c))) {
        return std::u32string(1, c);
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString folded = normalizer.normalize(icu::UnicodeString(UChar32(c)), status);
    if (U_FAILURE(status)) {
        throw RuntimeError(51, InternalError(QStringLiteral("ICU NFKC_Casefold: ") +
                                             QString::fromLatin1(u_errorName(status))));
    }
    if (folded.isEmpty()) {
        return std::u32string(1, c);
    }
    std::u32string codePoints;
    for (std::int32_t i = 0; i < folded.length(); i = folded.moveIndex32(i, 1)) {
        codePoints += char32_t(folded.char32At(i));
    }
    return codePoints;
}

bool IsVariationSelector(char32_t c) {
    return (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF) ||
           (c >= 0x180B && c <= 0x180D) || c == 0x180F;
}

// The punctuation that ends a clause, as folding leaves it, and the line breaks.
bool IsBreak(char32_t c) {
    switch (c) {
        case u'、':
        case u'。':
        case u',':
        case u'.':
        case u';':
        case u':':
        case u'!':
        case u'?':
        case u'\n':
        case u'\r':
        case u'\v':
        case u'\f':
        case 0x85:
        case 0x2028:
        case 0x2029:
            return true;
        default:
            return false;
    }
}

class T2sConverter {
public:
    explicit T2sConverter(Utf8Conversion convert)
        : converter_(opencc_open("t2s.json")), convert_(convert ? convert : opencc_convert_utf8) {
        if (converter_ == reinterpret_cast<opencc_t>(-1)) {
            throw RuntimeError(53, QStringLiteral(u"文件未找到：t2s.json"));
        }
    }
    ~T2sConverter() { opencc_close(converter_); }
    T2sConverter(const T2sConverter&) = delete;
    T2sConverter& operator=(const T2sConverter&) = delete;

    QString convert(const QString& text) const {
        const QByteArray utf8 = text.toUtf8();
        char* converted = convert_(converter_, utf8.constData(), std::size_t(utf8.size()));
        if (converted == nullptr) {
            const char* why = opencc_error();
            throw RuntimeError(
                51, InternalError(QStringLiteral("OpenCC: ") + QString::fromUtf8(why ? why : "")));
        }
        const QString result = QString::fromUtf8(converted);
        opencc_convert_utf8_free(converted);
        return result;
    }

private:
    opencc_t converter_;
    Utf8Conversion convert_;
};

// The simplified form of each of these characters that has one, each converted on its own. One
// call converts them all: a line break belongs to no phrase, so the character between two of them
// is converted alone; should the lines not come back one for one, each is converted by itself.
std::unordered_map<char32_t, std::u32string> SimplifiedForms(
    const std::vector<char32_t>& characters) {
    const T2sConverter converter(nullptr);
    QString lines;
    for (const char32_t c : characters) {
        lines += TextOf(c) + u'\n';
    }
    QStringList converted = converter.convert(lines).split(u'\n');
    if (std::size_t(converted.size()) != characters.size() + 1) {
        converted.clear();
        for (const char32_t c : characters) {
            converted.push_back(converter.convert(TextOf(c)));
        }
    }
    std::unordered_map<char32_t, std::u32string> simplified;
    auto line = converted.cbegin();
    for (const char32_t c : characters) {
        std::u32string form = CodePointsOf(*line++);
        if (!form.empty() && form != std::u32string(1, c)) {
            simplified.emplace(c, std::move(form));
        }
    }
    return simplified;
}

// Each code point's form with the traditional characters in it made simplified.
void Simplify(std::vector<std::u32string>& forms) {
    std::vector<bool> isHan(forms.size(), false);
    for (const std::u32string& form : forms) {
        for (const char32_t unit : form) {
            if (unit < isHan.size() && QChar::script(unit) == QChar::Script_Han) {
                isHan[unit] = true;
            }
        }
    }
    std::vector<char32_t> hanCharacters;
    for (char32_t c = 0; c < isHan.size(); ++c) {
        if (isHan[c]) {
            hanCharacters.push_back(c);
        }
    }
    const std::unordered_map<char32_t, std::u32string> simplified = SimplifiedForms(hanCharacters);
    for (std::u32string& form : forms) {
        std::u32string changed;
        for (const char32_t unit : form) {
            const bool han = unit < isHan.size() && isHan[unit];
            const auto simple = han ? simplified.find(unit) : simplified.end();
            changed += simple != simplified.end() ? simple->second : std::u32string(1, unit);
        }
        form = std::move(changed);
    }
}

}  // namespace

const FoldingTable& FoldingTable::Get() {
    static const FoldingTable table;
    return table;
}

CodePointKind FoldingTable::Classify(char32_t c) {
    if (u_hasBinaryProperty(UChar32(c), UCHAR_DEFAULT_IGNORABLE_CODE_POINT)) {
        return CodePointKind::Separator;
    }
    if (IsBreak(c)) {
        return CodePointKind::Break;
    }
    if (QChar::isDigit(c) || (QChar::isLetter(c) && QChar::script(c) == QChar::Script_Latin)) {
        return CodePointKind::LatinOrDigit;
    }
    if (QChar::isLetterOrNumber(c)) {
        return CodePointKind::Letter;
    }
    const QChar::Category category = QChar::category(c);
    const bool combining =
        category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining;
    return combining && !IsVariationSelector(c) ? CodePointKind::Letter : CodePointKind::Separator;
}

FoldingTable::FoldingTable()
    : start_(kTableEnd + 1, 0), kind_(kTableEnd), simpleForm_(65536, kLookUp) {
    const icu::Normalizer2& normalizer = NfkcCaseFold();
    std::vector<std::u32string> forms(kTableEnd);
    for (char32_t c = 0; c < kTableEnd; ++c) {
        kind_[c] = std::uint8_t(Classify(c));
        forms[c] =
            QChar::isSurrogate(c) ? std::u32string(1, c) : CompatibilityCaseFold(normalizer, c);
    }
    Simplify(forms);
    for (char32_t c = 0; c < kTableEnd; ++c) {
        start_[c] = std::uint32_t(pool_.size());
        if (forms[c] != std::u32string(1, c)) {
            pool_ += forms[c];
        }
        if (c < 65536 && !QChar::isSurrogate(c)) {
            simpleForm_[c] = SimpleForm(forms[c]);
        }
    }
    start_[kTableEnd] = std::uint32_t(pool_.size());
}

char16_t FoldingTable::SimpleForm(std::u32string_view form) const {
    const auto letter = [this](char32_t c) { return !isSeparator(c); };
    if (std::none_of(form.begin(), form.end(), letter)) {
        const auto isBreak = [this](char32_t c) { return kind(c) == CodePointKind::Break; };
        return std::any_of(form.begin(), form.end(), isBreak) ? kDroppedBreak : kDropped;
    }
    const bool single = form.size() == 1 && !QChar::requiresSurrogates(form[0]);
    return single && form[0] != kLookUp ? char16_t(form[0]) : kLookUp;
}

QString TraditionalToSimplified(const QString& text, Utf8Conversion convert) {
    return T2sConverter(convert).convert(text);
}

CodePointKind KindOf(char32_t codePoint) {
    return FoldingTable::Get().kind(codePoint);
}

bool IsSeparator(char32_t codePoint) {
    return FoldingTable::Get().isSeparator(codePoint);
}

FoldedText FoldText(QStringView text) {
    const FoldingTable& table = FoldingTable::Get();
    FoldedText folded;
    folded.units.reserve(std::size_t(text.size()));
    folded.sourceOf.reserve(std::size_t(text.size()));
    folded.sourceStart.reserve(std::size_t(text.size()) + 1);
    std::int32_t index = 0;
    ForEachCodePoint(text, [&](char32_t c, qsizetype start) {
        folded.sourceStart.push_back(start);
        const std::u32string_view form = table.changedForm(c);
        if (form.empty()) {
            folded.units += c;
            folded.sourceOf.push_back(index);
        } else {
            folded.units += form;
            folded.sourceOf.insert(folded.sourceOf.end(), form.size(), index);
        }
        ++index;
    });
    folded.sourceStart.push_back(text.size());
    return folded;
}

void AppendFolded(QStringView text, std::u32string& folded) {
    const FoldingTable& table = FoldingTable::Get();
    ForEachCodePoint(text, [&](char32_t c, qsizetype) {
        const std::u32string_view form = table.changedForm(c);
        if (form.empty()) {
            folded += c;
        } else {
            folded += form;
        }
    });
}

}  // namespace vorelta
