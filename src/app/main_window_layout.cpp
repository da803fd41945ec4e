// The main window's layouts: their sizes, which controls each shows and where, and the
// user's own resizing.
#include <algorithm>
#include <array>

#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTableView>

#include "app/main_window.h"
#include "app/task_list.h"

using torrent::display_layout;

namespace
{

constexpr int margin = 6; // around the standard arrangement
constexpr int strip_margin = 3; // around the strip of layouts 2 and 3
constexpr int spacing = 4;
constexpr int column_gap = 10; // between the detail columns
constexpr int standard_width = 575;
constexpr int list_rows = 8; // rows the standard layout's list shows
constexpr int status_least = 60; // the status bar in a new single-line strip

bool stripLayout(display_layout layout)
{
    return layout == display_layout::single_line || layout == display_layout::single_line_extended;
}

int textWidth(const QFontMetrics& metrics, const QString& text)
{
    return metrics.horizontalAdvance(text);
}

// What a widget asks for while it shows `text` (its own font, margins and frame).
template <typename Widget>
QSize hintFor(Widget* widget, const QString& text)
{
    widget->ensurePolished();
    const QString shown = widget->text();
    widget->setText(text);
    const QSize hint = widget->sizeHint();
    widget->setText(shown);
    return hint;
}

void place(QWidget* widget, int x, int y, int width, int height)
{
    widget->setGeometry(x, y, std::max(0, width), std::max(0, height));
}

} // namespace

void MainWindow::measureLayouts()
{
    const QFontMetrics metrics = fontMetrics();
    const int buttonHeight =
        std::max({m_go->sizeHint().height(), m_close->sizeHint().height(), metrics.height() + 8});
    const QSize valueHint = hintFor(m_values[0], QStringLiteral("1023.999M"))
                                .expandedTo(hintFor(m_values[0], QStringLiteral("999:59:59")));
    // The strip's row holds the buttons and, in layouts 2 and 3, the figures too.
    m_rowHeight = std::max(buttonHeight, valueHint.height());
    m_lineHeight = std::max(metrics.height() + 2, valueHint.height());

    // The strip's parts: the widths the layouts give them, or what their widest text needs.
    const int pad = 8;
    m_strip.margin = strip_margin;
    m_strip.spacing = spacing;
    m_strip.symbol = std::max(
        {m_symbol->minimumWidth(),
         hintFor(m_symbol, QStringLiteral("<=")).width(),
         hintFor(m_symbol, QStringLiteral("=>")).width()});
    m_strip.close = buttonHeight;
    m_strip.go = std::max(textWidth(metrics, m_go->text()) + 2 * pad + 8, m_go->sizeHint().width());
    m_strip.save_to = std::max(textWidth(metrics, m_saveTo->text()) + 2 * pad, m_saveTo->sizeHint().width());
    auto valueNeeds = [&](int least, const QString& widest)
    {
        return std::max({least, textWidth(metrics, widest) + pad, hintFor(m_values[0], widest).width()});
    };
    m_strip.speed = valueNeeds(65, QStringLiteral("1023.999M"));
    m_strip.time_left = valueNeeds(40, QStringLiteral("999:59:59"));
    m_strip.completion = valueNeeds(40, QStringLiteral("100.00%"));
    m_strip.connections = valueNeeds(20, QStringLiteral("999"));

    // Unless stored, the strips of layouts 2 and 3 start wide enough for all their parts
    // and a short status bar.
    const int stripNeeds = torrent::strip_needs(m_strip, true, true) + status_least;
    if (!m_stripWidthsStored)
    {
        m_singleLineWidth = std::max(m_singleLineWidth, stripNeeds);
        m_extSize.setWidth(std::max(m_extSize.width(), stripNeeds));
    }

    // The detail columns: each caption column as wide as its widest caption asks for.
    m_valueWidth = std::max(textWidth(metrics, QStringLiteral("1023.999M")) + pad, valueHint.width());
    for (std::size_t column = 0; column < 4; ++column)
    {
        QLabel* top = m_captions[column];
        QLabel* bottom = m_captions[column + 4];
        m_captionWidths[column] = std::max(
            {textWidth(metrics, top->text()),
             textWidth(metrics, bottom->text()),
             hintFor(top, top->text()).width(),
             hintFor(bottom, bottom->text()).width()});
    }
    int detailsWidth = 2 * margin + 3 * column_gap;
    for (const int w : m_captionWidths)
        detailsWidth += w + spacing + m_valueWidth;
    const int width = std::max(standard_width, detailsWidth);

    // Compact: the strip, the two rows of figures and the legend; standard adds the list
    // between the figures and the legend.
    const int rowsEnd = margin + m_rowHeight + spacing + 2 * m_lineHeight + spacing;
    const int legendHeight = m_legend->heightForWidth(width - 2 * margin);
    m_compactSize = QSize(width, rowsEnd + legendHeight + margin);
    const QTableView* list = m_list->view();
    const int listHeight = list->horizontalHeader()->sizeHint().height()
        + list_rows * list->verticalHeader()->defaultSectionSize() + 2 * list->frameWidth()
        + list->horizontalScrollBar()->sizeHint().height();
    m_standardSize = QSize(width, m_compactSize.height() + listHeight + spacing);
}

QSize MainWindow::layoutSize(display_layout layout) const
{
    switch (layout)
    {
    case display_layout::compact:
        return m_compactSize;
    case display_layout::single_line:
        return {m_singleLineWidth, m_rowHeight + 2 * strip_margin};
    case display_layout::single_line_extended:
        return m_extSize;
    case display_layout::standard:
        return m_standardSize;
    case display_layout::user:
        return m_userSize;
    case display_layout::hidden:
        break;
    }
    return size();
}

void MainWindow::ApplyLayout()
{
    LayoutGuard guard(*this);
    if (m_layout == display_layout::user && m_userSize.isEmpty())
        m_layout = display_layout::compact;
    if (m_layout == display_layout::hidden)
        return;
    const QSize wanted = layoutSize(m_layout);
    // Layout 2 is only widened or narrowed; the others take any size from a strip up.
    const int stripHeight = m_rowHeight + 2 * strip_margin;
    if (m_layout == display_layout::single_line)
    {
        setMinimumSize(m_strip.symbol + m_strip.close + 4 * spacing, stripHeight);
        setMaximumSize(QWIDGETSIZE_MAX, stripHeight);
    }
    else
    {
        setMinimumSize(m_strip.symbol + m_strip.close + 4 * spacing, stripHeight);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    // The right edge stays where it is.
    const QRect now = geometry();
    m_appliedSize = wanted;
    setGeometry(now.x() + now.width() - wanted.width(), now.y(), wanted.width(), wanted.height());
    arrange();
}

void MainWindow::NextLayout()
{
    m_layout = torrent::next_layout(m_layout, m_list->mode() == TaskList::Mode::tasks, !m_userSize.isEmpty());
    ApplyLayout();
}

void MainWindow::arrange()
{
    if (m_layout == display_layout::hidden)
        return;
    const bool strip = stripLayout(m_layout);
    // Captions, total size, amounts and legend belong to the full arrangements only.
    for (QLabel* caption : m_captions)
        caption->setVisible(!strip);
    for (const detail d : {total_size, downloaded, uploaded})
        m_values[d]->setVisible(!strip);
    m_legend->setVisible(!strip);
    const bool timeAndCompletion = !strip
        || !(
            m_list->allTasksOnly()
            || (m_list->mode() == TaskList::Mode::tasks && m_layout == display_layout::single_line_extended));
    m_values[time_left]->setVisible(timeAndCompletion);
    m_values[completion]->setVisible(timeAndCompletion);
    for (const detail d : {download_rate, upload_rate, connections})
        m_values[d]->setVisible(true);
    // In the strip the figures get a frame each, as the status bar has.
    for (QLabel* value : m_values)
        value->setFrameShape(strip ? QFrame::StyledPanel : QFrame::NoFrame);
    m_list->view()->setVisible(
        m_layout != display_layout::compact && m_layout != display_layout::single_line);
    if (strip)
        arrangeStrip();
    else
        arrangeStandard();
}

void MainWindow::arrangeStrip()
{
    const bool timeAndCompletion = m_values[time_left]->isVisibleTo(this);
    const torrent::strip_plan plan = torrent::plan_strip(width(), m_strip, m_buttonsShown, timeAndCompletion);
    const int y = strip_margin;
    const int h = m_rowHeight;
    auto put = [&](QWidget* widget, const torrent::strip_span& span)
    {
        place(widget, span.x, y, span.width, h);
    };
    put(m_symbol, plan.symbol);
    put(m_status, plan.status);
    put(m_values[connections], plan.connections);
    put(m_values[completion], plan.completion);
    put(m_values[time_left], plan.time_left);
    put(m_values[download_rate], plan.download);
    put(m_values[upload_rate], plan.upload);
    put(m_saveTo, plan.save_to);
    put(m_go, plan.go);
    put(m_close, plan.close);
    if (m_layout == display_layout::single_line_extended)
    {
        const int top = y + h + spacing;
        place(m_list->view(), strip_margin, top, width() - 2 * strip_margin, height() - strip_margin - top);
    }
}

void MainWindow::arrangeStandard()
{
    const int w = width();
    const int h = m_rowHeight;
    // The strip: the symbol, the status bar, then "SaveTo", "Go" and "x" at the right.
    place(m_symbol, margin, margin, m_strip.symbol, h);
    int right = w - margin;
    auto fromRight = [&](QWidget* widget, int width)
    {
        right -= width;
        place(widget, right, margin, width, h);
        right -= spacing;
    };
    fromRight(m_close, m_strip.close);
    if (m_buttonsShown)
    {
        fromRight(m_go, std::max(m_go->sizeHint().width(), m_strip.go));
        fromRight(m_saveTo, std::max(m_saveTo->sizeHint().width(), m_strip.save_to));
    }
    const int statusLeft = margin + m_strip.symbol + spacing;
    place(m_status, statusLeft, margin, right - statusLeft, h);

    // Two rows of four caption and value pairs, the values aligned right in their column.
    const int top = margin + h + spacing;
    const int columnWidth = (w - 2 * margin - 3 * column_gap) / 4;
    for (std::size_t i = 0; i < 8; ++i)
    {
        const std::size_t column = i % 4;
        const int x = margin + static_cast<int>(column) * (columnWidth + column_gap);
        const int y = top + static_cast<int>(i / 4) * m_lineHeight;
        const int captionWidth = m_captionWidths[column];
        place(m_captions[i], x, y, captionWidth, m_lineHeight);
        const int valueLeft = x + captionWidth + spacing;
        place(m_values[i], valueLeft, y, std::max(m_valueWidth, x + columnWidth - valueLeft), m_lineHeight);
    }

    // The list below the uploaded amount's row, filling what the legend at the bottom
    // leaves; without the list the legend follows the figures.
    const int rowsEnd = top + 2 * m_lineHeight + spacing;
    const int legendHeight = m_legend->heightForWidth(w - 2 * margin);
    if (m_layout == display_layout::compact)
    {
        place(m_legend, margin, rowsEnd, w - 2 * margin, legendHeight);
        return;
    }
    const int legendTop = std::max(rowsEnd, height() - margin - legendHeight);
    place(m_legend, margin, legendTop, w - 2 * margin, legendHeight);
    place(m_list->view(), margin, rowsEnd, w - 2 * margin, legendTop - spacing - rowsEnd);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // A size the window did not give itself is the user's (or the window manager's).
    if (m_layoutGuard == 0 && isVisible() && event->size() != m_appliedSize)
        userResized(event->size());
    arrange();
}

void MainWindow::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        remeasureLayouts();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    remeasureLayouts();
}

void MainWindow::remeasureLayouts()
{
    if (!m_layoutsMeasured)
        return;
    auto sizes = [this]
    {
        return std::array<int, 10>{
            m_strip.symbol,
            m_strip.go,
            m_strip.save_to,
            m_strip.speed,
            m_strip.time_left,
            m_strip.completion,
            m_strip.connections,
            m_valueWidth,
            m_rowHeight,
            m_lineHeight};
    };
    const std::array<int, 10> before = sizes();
    measureLayouts();
    if (sizes() != before)
        ApplyLayout();
}

void MainWindow::userResized(QSize size)
{
    switch (m_layout)
    {
    case display_layout::hidden:
        return;
    case display_layout::single_line:
        m_singleLineWidth = size.width();
        break;
    case display_layout::single_line_extended:
        m_extSize = size;
        break;
    case display_layout::compact:
    case display_layout::standard:
    case display_layout::user:
        m_layout = display_layout::user;
        m_userSize = size;
        break;
    }
    m_appliedSize = size;
}

void MainWindow::initLayouts()
{
    // The style and the fonts the window will show with, before anything is measured.
    ensurePolished();
    measureLayouts();
    m_layoutsMeasured = true;
    applyTopmost();
    ApplyLayout();
}

int MainWindow::layoutRightEdge() const
{
    // A hidden window keeps its geometry, which is where it comes back to.
    return geometry().x() + geometry().width();
}

int MainWindow::layoutTop() const
{
    return geometry().y();
}

torrent::window_geometry MainWindow::layoutGeometry() const
{
    torrent::window_geometry g;
    g.buttons_shown = m_buttonsShown;
    g.user_width = m_userSize.width();
    g.user_height = m_userSize.height();
    g.single_line_width = m_singleLineWidth;
    g.single_line_ext_width = m_extSize.width();
    g.single_line_ext_height = m_extSize.height();
    g.right = layoutRightEdge();
    g.top = layoutTop();
    return g;
}

void MainWindow::setLayoutGeometry(const torrent::window_geometry& g)
{
    // Sizes too small to show the strip are not taken: the defaults stay.
    const int least = m_strip.symbol + m_strip.close + 4 * spacing;
    m_userSize =
        g.user_width >= least && g.user_height > 0 ? QSize(g.user_width, g.user_height) : QSize(0, 0);
    if (g.single_line_width >= least)
    {
        m_singleLineWidth = g.single_line_width;
        m_stripWidthsStored = true;
    }
    if (g.single_line_ext_width >= least && g.single_line_ext_height > 0)
    {
        m_extSize = QSize(g.single_line_ext_width, g.single_line_ext_height);
        m_stripWidthsStored = true;
    }
    showButtons(g.buttons_shown);
    // Before the layouts are measured (initialisation) they are applied later.
    if (m_standardSize.isValid())
        ApplyLayout();
}
