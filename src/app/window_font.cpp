#include "window_font.h"

#include "cp1252.h"
#include "program_texts.h"
#include "window_layout.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QRect>

namespace veldar {

namespace {

constexpr int DesignPixelSize = 11;
constexpr int SmallestPixelSize = 9;

QString FromBytes(const std::string& bytes) {
    return QString::fromStdString(Cp1252ToUtf8(bytes));
}

QFont Candidate(const QString& family, int stretch, int pixelSize, bool bold) {
    QFont font(family);
    font.setStretch(stretch);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QFont ChooseRegularFont() {
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(DesignPixelSize);
    if (QFontInfo(tahoma).exactMatch()) return tahoma;

    // The status label is bold: that is the text that must fit. The design size first, in a
    // narrower width of the same family before a smaller size; a family without a narrow
    // face is drawn narrower by the font engine.
    const QString family = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    const QStringList texts = LongestStatusTexts();
    for (int size = DesignPixelSize; size >= SmallestPixelSize; --size)
        for (int stretch :
             {int(QFont::Unstretched), int(QFont::SemiCondensed), int(QFont::Condensed)})
            if (FitsLabel(Candidate(family, stretch, size, true), texts,
                          layout::StatusLabel.size()))
                return Candidate(family, stretch, size, false);
    return Candidate(family, QFont::Condensed, SmallestPixelSize, false);
}

} // namespace

QStringList LongestStatusTexts() {
    const QString lineBreak = QStringLiteral("\n");
    auto shown = [&](const std::string& bytes) {
        return FromBytes(bytes).replace(QStringLiteral("\r\n"), lineBreak);
    };
    return {
        shown(std::string("99999") + texts::StatusRecordsSuffix + "23:59:59" +
              texts::StatusFinishedAt + "23:59:59"),
        shown(std::string(texts::StatusRecording) + "99999"),
        shown(texts::StatusAborted),
        shown(texts::StatusNotSaved),
        shown(std::string(texts::StatusNotConnected) + texts::StatusRetryHint),
    };
}

bool FitsLabel(const QFont& font, const QStringList& texts, QSize label) {
    const QFontMetrics metrics(font);
    const QRect area(QPoint(0, 0), label);
    for (const QString& text : texts) {
        const QRect needed =
            metrics.boundingRect(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        if (needed.width() > label.width() || needed.height() > label.height()) return false;
    }
    return true;
}

QFont WindowFont(bool bold) {
    static const QFont chosen = ChooseRegularFont();
    QFont font = chosen;
    font.setBold(bold);
    return font;
}

} // namespace veldar
