#include "app/FontMark.h"

#include "word/CxWordDoc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

FontMark FontMarkOf(const std::string& fontReport, int nStoredPages, int nPages)
{
    QStringList lines;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(fontReport));
    for (const QJsonValue& v : doc.array()) {
        const QJsonObject font = v.toObject();
        if (font.value("kind").toString() == "substitute")
            lines << QString("%1 \u2192 %2").arg(font.value("font").toString(), font.value("drawn_with").toString());
    }
    FontMark mark;
    QStringList text;
    if (!lines.isEmpty()) {
        text << QString("Fonts replaced");
        lines.prepend(QString("Fonts replaced:"));
    }
    if (nStoredPages > 1 && nPages > 0 && nStoredPages != nPages) {
        const QString counted = QString("Word counted %1 pages").arg(nStoredPages);
        text << counted;
        lines << counted;
    }
    if (text.isEmpty())
        return mark;
    mark.text = QString("\u26a0 ") + text.join("; ");
    mark.tooltip = lines.join("\n");
    return mark;
}

FontMark FontMarkOf(CxWordDoc* pDoc)
{
    if (!pDoc)
        return FontMark();
    std::string report;
    if (!pDoc->GetFontReport(&report))
        report.clear();
    return FontMarkOf(report, pDoc->GetStoredPageCount(), pDoc->GetPageCount());
}
