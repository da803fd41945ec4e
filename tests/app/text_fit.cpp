#include "text_fit.h"

#include <cstdio>

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionHeader>

namespace
{

int report(const QWidget& top, const QWidget& widget, const char* what, const QString& text = {})
{
    std::fprintf(
        stderr,
        "FAIL %s/%s: %s (size %dx%d) %s\n",
        qPrintable(top.objectName()),
        qPrintable(widget.objectName()),
        what,
        widget.width(),
        widget.height(),
        qPrintable(text));
    return 1;
}

// A header section's text against its width, with the style's margins on both sides.
int cut_headers(const QWidget& top, const QHeaderView& header)
{
    int cut = 0;
    const QAbstractItemModel* model = header.model();
    if (model == nullptr)
        return 0;
    const int margin = header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
    for (int i = 0; i < header.count(); ++i)
    {
        if (header.isSectionHidden(i))
            continue;
        const QString text = model->headerData(i, header.orientation()).toString();
        if (header.fontMetrics().horizontalAdvance(text) + 2 * margin > header.sectionSize(i))
            cut += report(top, header, "column header wider than its column", text);
    }
    return cut;
}

} // namespace

int count_cut_texts(const QWidget& top, const QStringList& exempt)
{
    int cut = 0;
    auto skipped = [&](const QWidget* w)
    {
        return !w->isVisible() || exempt.contains(w->objectName());
    };
    for (const QLabel* label : top.findChildren<QLabel*>())
    {
        if (skipped(label))
            continue;
        if (label->wordWrap())
        {
            if (label->heightForWidth(label->width()) > label->height())
                cut += report(top, *label, "wrapped text taller than its label", label->text());
        }
        else if (label->sizeHint().width() > label->width() || label->sizeHint().height() > label->height())
            cut += report(top, *label, "text wider or taller than its label", label->text());
    }
    for (const QAbstractButton* button : top.findChildren<QAbstractButton*>())
        if (!skipped(button) && button->sizeHint().width() > button->width())
            cut += report(top, *button, "text wider than its button", button->text());
    for (const QGroupBox* group : top.findChildren<QGroupBox*>())
        if (!skipped(group) && group->minimumSizeHint().width() > group->width())
            cut += report(top, *group, "title wider than its group", group->title());
    for (const QComboBox* combo : top.findChildren<QComboBox*>())
        for (int i = 0; i < combo->count(); ++i)
            if (!skipped(combo)
                && combo->fontMetrics().horizontalAdvance(combo->itemText(i)) > combo->width())
                cut += report(top, *combo, "item wider than its list", combo->itemText(i));
    for (const QHeaderView* header : top.findChildren<QHeaderView*>())
        if (!skipped(header) && header->orientation() == Qt::Horizontal)
            cut += cut_headers(top, *header);
    return cut;
}
