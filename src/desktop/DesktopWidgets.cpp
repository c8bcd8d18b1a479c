#include "desktop/DesktopWidgets.h"

#include "desktop/DesktopPalette.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace calvora::desktop {

QLabel* NewLabel(const QString& Text, QWidget* Parent, const char* Name, const QFont& Font, const char* Colour) {
  auto* label = new QLabel(Text, Parent);
  if (Name) label->setObjectName(Name);
  label->setFont(Font);
  label->setStyleSheet(QString("color: %1; background: transparent;").arg(QString(Colour)));
  return label;
}

QTreeWidget* NewReportList(QWidget* Parent, const char* Name, const QStringList& Columns, const QList<int>& Widths) {
  auto* list = new QTreeWidget(Parent);
  list->setObjectName(Name);
  list->setColumnCount(static_cast<int>(Columns.size()));
  list->setHeaderLabels(Columns);
  for (int i = 0; i < Widths.size(); ++i) list->setColumnWidth(i, Widths[i]);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->header()->setStretchLastSection(true);
  list->header()->setSectionsMovable(false);
  return list;
}

TBrowseFrame BuildBrowseFrame(QWidget* Window, const QString& Title, const QStringList& Columns,
                              const QList<int>& Widths) {
  TBrowseFrame frame;
  Window->setFont(DesktopFont(10));
  Window->setStyleSheet(DesktopStyleSheet() + QString("QWidget#%1 { background: %2; }")
                                                  .arg(Window->objectName(), QString(palette::kGround)));
  Window->setAttribute(Qt::WA_StyledBackground);
  auto* column = new QVBoxLayout(Window);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  frame.Header = new QFrame(Window);
  frame.Header->setObjectName("FHeaderPanel");
  frame.Header->setFixedHeight(78);
  frame.Header->setStyleSheet(QString("QFrame#FHeaderPanel { background: %1; }").arg(QString(palette::kHeroBand)));
  auto* titles = new QVBoxLayout(frame.Header);
  titles->setContentsMargins(20, 10, 20, 10);
  titles->setSpacing(4);
  frame.Info = NewLabel(Title, frame.Header, "FInfoLabel", DesktopFont(16, true), palette::kHeroText);
  frame.Status = NewLabel("", frame.Header, "FStatusLabel", DesktopFont(10), palette::kHeroMuted);
  frame.Status->setMinimumWidth(10);
  titles->addWidget(frame.Info);
  titles->addWidget(frame.Status);
  column->addWidget(frame.Header);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(12, 12, 12, 12);
  frame.List = NewReportList(Window, "FListView", Columns, Widths);
  frame.List->header()->setStretchLastSection(false);
  body->addWidget(frame.List);
  column->addLayout(body, 1);

  frame.Bottom = new QFrame(Window);
  frame.Bottom->setObjectName("FBottomPanel");
  frame.Bottom->setFixedHeight(56);
  frame.Bottom->setStyleSheet(QString("QFrame#FBottomPanel { background: %1; border-top: 1px solid %2; }")
                                  .arg(QString(palette::kSurface), QString(palette::kBorder)));
  frame.Buttons = new QHBoxLayout(frame.Bottom);
  frame.Buttons->setContentsMargins(12, 8, 12, 8);
  frame.Buttons->setSpacing(8);
  frame.Buttons->addStretch();
  frame.Close = new QPushButton("Kapat", frame.Bottom);
  frame.Close->setObjectName("FCloseButton");
  QObject::connect(frame.Close, &QPushButton::clicked, Window, &QWidget::close);
  frame.Buttons->addWidget(frame.Close);
  column->addWidget(frame.Bottom);
  return frame;
}

QPushButton* AddBandButton(const TBrowseFrame& Frame, const char* Name, const QString& Caption) {
  auto* button = new QPushButton(Caption, Frame.Bottom);
  button->setObjectName(Name);
  // Before the stretch that pushes "Kapat" to the right.
  Frame.Buttons->insertWidget(Frame.Buttons->count() - 2, button);
  return button;
}

void BuildNotice(QDialog* Window, const QString& Heading, const QString& Text) {
  Window->setFont(DesktopFont(10));
  Window->setStyleSheet(DesktopStyleSheet());
  Window->setMinimumWidth(480);
  auto* column = new QVBoxLayout(Window);
  column->setContentsMargins(24, 20, 24, 16);
  column->setSpacing(10);
  column->addWidget(NewLabel(Heading, Window, "lblTitle", DesktopFont(13, true), palette::kText));
  QLabel* text = NewLabel(Text, Window, "lblNotice", DesktopFont(10), palette::kMuted);
  text->setWordWrap(true);
  column->addWidget(text);
  column->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* close = new QPushButton("Kapat", Window);
  close->setObjectName("btnClose");
  close->setDefault(true);
  QObject::connect(close, &QPushButton::clicked, Window, &QDialog::reject);
  buttons->addWidget(close);
  column->addLayout(buttons);
}

}  // namespace calvora::desktop
