#pragma once

#include <QStringList>

class QWidget;

// Reports (on stderr) every visible text inside `top` that gets less room than it needs:
// labels (wrapped ones by height), buttons, group titles, list items and column headers.
// Widgets named in `exempt` are skipped. Answers how many were found.
int count_cut_texts(const QWidget& top, const QStringList& exempt = {});
