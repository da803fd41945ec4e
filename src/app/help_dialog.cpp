#include "app/help_dialog.h"

#include <algorithm>
#include <string_view>

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/ui_text.h"

namespace
{

QString ui(std::size_t entry)
{
    const std::string_view text = torrent::ui_text(entry);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Page texts break lines with CR.
QString page_text(std::uint16_t page)
{
    QString text = ui(page);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// Width of the page area: about 38 ideographs or 70 Latin letters of the dialog's font.
int page_width(const QFontMetrics& metrics)
{
    return std::max(
        metrics.horizontalAdvance(QString(38, QChar(0x4E2D))),
        metrics.horizontalAdvance(QString(70, QLatin1Char('n'))));
}

struct viewer
{
    torrent::help_pager pager;
    QPointer<HelpDialog> window;
};

viewer& the_viewer()
{
    static viewer v;
    return v;
}

void centre_on_screen(QWidget* widget)
{
    const QScreen* screen = widget->screen() != nullptr ? widget->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = widget->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    widget->move(frame.topLeft());
}

} // namespace

HelpDialog::HelpDialog(torrent::help_pager& pager, QWidget* parent)
    : QDialog(parent)
    , m_pager(pager)
{
    setObjectName(QStringLiteral("help"));
    setModal(false);
    build();
    m_pager.open();
    refresh();
}

HelpDialog::~HelpDialog() = default;

void HelpDialog::build()
{
    setWindowTitle(QStringLiteral("Zorvik - ") + ui(torrent::uitext::help_title));

    m_page = new QLabel(this);
    m_page->setObjectName(QStringLiteral("c1036"));
    m_page->setTextFormat(Qt::PlainText);
    m_page->setWordWrap(true);
    m_page->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_page->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_page->setFrameShape(QFrame::StyledPanel);
    m_page->setMargin(6);

    m_topics = new QComboBox(this);
    m_topics->setObjectName(QStringLiteral("c1042"));
    for (const auto& topic : torrent::help_pager::topics)
        m_topics->addItem(ui(topic.name));
    m_topics->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    m_previous = new QPushButton(QStringLiteral("<<"), this);
    m_previous->setObjectName(QStringLiteral("c1034"));
    m_next = new QPushButton(QStringLiteral(">>"), this);
    m_next->setObjectName(QStringLiteral("c1035"));
    m_counter = new QLabel(this);
    m_counter->setObjectName(QStringLiteral("c1033"));
    m_counter->setAlignment(Qt::AlignCenter);
    m_counter->setMinimumWidth(m_counter->fontMetrics().horizontalAdvance(QStringLiteral("00 / 00")) + 8);
    for (QPushButton* button : {m_previous, m_next})
        button->setAutoDefault(false);

    connect(
        m_previous,
        &QPushButton::clicked,
        this,
        [this]
        {
            m_pager.show_page(-1);
            refresh();
        });
    connect(
        m_next,
        &QPushButton::clicked,
        this,
        [this]
        {
            m_pager.show_page(+1);
            refresh();
        });
    connect(
        m_topics,
        &QComboBox::activated,
        this,
        [this](int index)
        {
            m_pager.choose_topic(index);
            refresh();
        });

    auto* controls = new QHBoxLayout();
    controls->addWidget(m_topics);
    controls->addStretch(1);
    controls->addWidget(m_previous);
    controls->addWidget(m_counter);
    controls->addWidget(m_next);

    auto* column = new QVBoxLayout(this);
    column->addWidget(m_page, 1);
    column->addLayout(controls);
    column->setSizeConstraint(QLayout::SetFixedSize);
    size_page_area();
}

void HelpDialog::size_page_area()
{
    // Every page must fit whole: the area takes the height of the tallest page at its width.
    const int width = page_width(m_page->fontMetrics());
    m_page->setFixedWidth(width);
    int tallest = 0;
    for (std::uint16_t page = 0; page < torrent::help_pager::page_count; ++page)
    {
        m_page->setText(page_text(page));
        tallest = std::max(tallest, m_page->heightForWidth(width));
    }
    m_page->setFixedHeight(tallest);
}

void HelpDialog::refresh()
{
    m_page->setText(page_text(m_pager.current()));
    m_counter->setText(QString::fromStdString(m_pager.counter_text()));
    m_topics->setCurrentIndex(m_pager.topic_of_current());
}

void ShowHelp(bool open, QWidget* parent)
{
    viewer& v = the_viewer();
    if (!open)
    {
        delete v.window.data();
        return;
    }
    if (v.window.isNull())
    {
        v.window = new HelpDialog(v.pager, parent);
        v.window->adjustSize();
        centre_on_screen(v.window.data());
    }
    v.window->showNormal();
    v.window->raise();
    v.window->activateWindow();
}

HelpDialog* help_window() noexcept
{
    return the_viewer().window.data();
}
