#include "app/pagecontrol.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QPainter>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionTab>
#include <QVBoxLayout>

namespace {

// Screen readers see a tab as a page tab with its caption, selected or not.
class PageTabAccessible : public QAccessibleWidget {
 public:
  explicit PageTabAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::PageTab) {}
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return static_cast<PageTab*>(widget())->text();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.selectable = true;
    s.selected = static_cast<PageTab*>(widget())->isChecked();
    return s;
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& name) override {
    if (name == pressAction()) static_cast<PageTab*>(widget())->click();
  }
};

QAccessibleInterface* pageTabFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("PageTab") && object && object->isWidgetType())
    return new PageTabAccessible(static_cast<QWidget*>(object));
  return nullptr;
}

void registerAccessibility() {
  static bool done = false;
  if (done) return;
  done = true;
  QAccessible::installFactory(pageTabFactory);
}

}  // namespace

// ---- PageTab -----------------------------------------------------------

PageTab::PageTab(const QString& text, QWidget* parent) : QAbstractButton(parent) {
  setText(text);
  setCheckable(true);
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize PageTab::sizeHint() const {
  QStyleOptionTab opt;
  opt.initFrom(this);
  opt.shape = QTabBar::RoundedNorth;
  opt.text = text();
  const QFontMetrics fm = fontMetrics();
  const int hframe = style()->pixelMetric(QStyle::PM_TabBarTabHSpace, &opt, this);
  const int vframe = style()->pixelMetric(QStyle::PM_TabBarTabVSpace, &opt, this);
  QSize content(fm.horizontalAdvance(text()) + hframe, qMax(fm.height(), 12) + vframe);
  return style()->sizeFromContents(QStyle::CT_TabBarTab, &opt, content, this);
}

QSize PageTab::minimumSizeHint() const { return sizeHint(); }

void PageTab::setRowPosition(bool first, bool last) {
  first_ = first;
  last_ = last;
  update();
}

void PageTab::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QStyleOptionTab opt;
  opt.initFrom(this);
  opt.shape = QTabBar::RoundedNorth;
  opt.text = text();
  opt.rect = rect();
  opt.position = first_ && last_ ? QStyleOptionTab::OnlyOneTab
                 : first_        ? QStyleOptionTab::Beginning
                 : last_         ? QStyleOptionTab::End
                                 : QStyleOptionTab::Middle;
  if (isChecked()) opt.state |= QStyle::State_Selected;
  if (isDown()) opt.state |= QStyle::State_Sunken;
  style()->drawControl(QStyle::CE_TabBarTab, &opt, &p, this);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = rect().adjusted(3, 3, -3, -3);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
  }
}

// ---- MultiRowTabBar ----------------------------------------------------

MultiRowTabBar::MultiRowTabBar(QWidget* parent) : QWidget(parent) {
  // The height follows the width through sizeHint() (see relayout), not
  // through heightForWidth: a box layout would take the height at the
  // narrowest width as the window's minimum, one caption a row.
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MultiRowTabBar::insertTab(int index, PageTab* tab) {
  tab->setParent(this);
  tabs_.insert(index, tab);
  tab->show();
  relayout();
  updateGeometry();
}

void MultiRowTabBar::removeTab(int index) {
  if (index < 0 || index >= tabs_.size()) return;
  delete tabs_.takeAt(index);
  relayout();
  updateGeometry();
}

int MultiRowTabBar::rowHeight() const {
  int h = 0;
  for (const PageTab* t : tabs_) h = qMax(h, t->sizeHint().height());
  return h;
}

QList<int> MultiRowTabBar::rowStarts(int width) const {
  QList<int> starts;
  int used = 0;
  for (int i = 0; i < tabs_.size(); ++i) {
    const int w = tabs_[i]->sizeHint().width();
    if (starts.isEmpty() || (used > 0 && used + w > width)) {
      starts.append(i);
      used = 0;
    }
    used += w;
  }
  return starts;
}

int MultiRowTabBar::rowCount() const { return rowStarts(width()).size(); }

int MultiRowTabBar::rowOf(int index) const {
  const QList<int> starts = rowStarts(width());
  int row = 0;
  for (int r = 0; r < starts.size(); ++r)
    if (index >= starts[r]) row = r;
  return row;
}

int MultiRowTabBar::heightForWidth(int width) const {
  return rowStarts(width).size() * rowHeight();
}

QSize MultiRowTabBar::sizeHint() const {
  int widest = 0;
  for (const PageTab* t : tabs_) widest = qMax(widest, t->sizeHint().width());
  // Before the first layout the width is unknown: claim one row, so that the
  // window does not grow for rows it will not need; relayout asks for more.
  const int h = width() > 0 ? heightForWidth(qMax(width(), widest)) : rowHeight();
  return {widest, h};
}

QSize MultiRowTabBar::minimumSizeHint() const { return sizeHint(); }

void MultiRowTabBar::resizeEvent(QResizeEvent*) { relayout(); }

void MultiRowTabBar::relayout() {
  const int total = width();
  if (tabs_.isEmpty() || total <= 0) return;
  const QList<int> starts = rowStarts(total);
  const int h = rowHeight();
  for (int r = 0; r < starts.size(); ++r) {
    const int begin = starts[r];
    const int end = r + 1 < starts.size() ? starts[r + 1] : tabs_.size();
    int natural = 0;
    for (int i = begin; i < end; ++i) natural += tabs_[i]->sizeHint().width();
    // Stretch the row to the full width, sharing the spare room evenly.
    const int spare = qMax(0, total - natural);
    int x = 0;
    for (int i = begin; i < end; ++i) {
      const int n = end - begin;
      const int extra = spare / n + ((i - begin) < spare % n ? 1 : 0);
      const int w = (i == end - 1) ? total - x : tabs_[i]->sizeHint().width() + extra;
      tabs_[i]->setGeometry(x, r * h, w, h);
      tabs_[i]->setRowPosition(i == begin, i == end - 1);
      x += w;
    }
  }
  if (height() != starts.size() * h) updateGeometry();  // rows came or went
}

// ---- PageControl -------------------------------------------------------

PageControl::PageControl(QWidget* parent)
    : QWidget(parent),
      bar_(new MultiRowTabBar(this)),
      stack_(new QStackedWidget(this)),
      group_(new QButtonGroup(this)) {
  registerAccessibility();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(bar_);
  layout->addWidget(stack_, 1);
  stack_->setFrameShape(QFrame::StyledPanel);
  stack_->setObjectName(QStringLiteral("qt_pagecontrol_stack"));
  bar_->setObjectName(QStringLiteral("qt_pagecontrol_tabbar"));
  group_->setExclusive(true);
  connect(group_, &QButtonGroup::idClicked, this, &PageControl::setCurrentIndex);
  connect(stack_, &QStackedWidget::currentChanged, this, [this](int index) {
    if (QAbstractButton* b = group_->button(index)) b->setChecked(true);
    Q_EMIT currentChanged(index);
  });
}

int PageControl::addTab(QWidget* page, const QString& caption) {
  return insertTab(count(), page, caption);
}

int PageControl::insertTab(int index, QWidget* page, const QString& caption) {
  if (index < 0 || index > count()) index = count();
  auto* tab = new PageTab(caption);
  tab->setObjectName(page->objectName() + QStringLiteral("_tab"));
  bar_->insertTab(index, tab);
  group_->addButton(tab);
  const bool wasEmpty = count() == 0;
  stack_->insertWidget(index, page);
  renumber();
  if (wasEmpty) tab->setChecked(true);
  return index;
}

void PageControl::removeTab(int index) {
  if (index < 0 || index >= count()) return;
  stack_->removeWidget(stack_->widget(index));
  group_->removeButton(bar_->tab(index));
  bar_->removeTab(index);
  renumber();
}

void PageControl::renumber() {
  for (int i = 0; i < bar_->count(); ++i) group_->setId(bar_->tab(i), i);
  if (QAbstractButton* b = group_->button(stack_->currentIndex())) b->setChecked(true);
}

int PageControl::count() const { return stack_->count(); }
int PageControl::indexOf(const QWidget* page) const {
  return stack_->indexOf(const_cast<QWidget*>(page));
}
QWidget* PageControl::widget(int index) const { return stack_->widget(index); }
QWidget* PageControl::currentWidget() const { return stack_->currentWidget(); }
int PageControl::currentIndex() const { return stack_->currentIndex(); }

QString PageControl::tabText(int index) const {
  const PageTab* t = bar_->tab(index);
  return t ? t->text() : QString();
}

void PageControl::setTabText(int index, const QString& caption) {
  if (PageTab* t = bar_->tab(index)) {
    t->setText(caption);
    t->updateGeometry();
    bar_->updateGeometry();
    QResizeEvent e(bar_->size(), bar_->size());
    QCoreApplication::sendEvent(bar_, &e);
  }
}

void PageControl::setTabToolTip(int index, const QString& tip) {
  if (PageTab* t = bar_->tab(index)) t->setToolTip(tip);
}

void PageControl::setTabEnabled(int index, bool enabled) {
  if (PageTab* t = bar_->tab(index)) t->setEnabled(enabled);
}

bool PageControl::isTabEnabled(int index) const {
  const PageTab* t = bar_->tab(index);
  return t && t->isEnabled();
}

void PageControl::setCurrentIndex(int index) {
  if (index < 0 || index >= count()) return;
  stack_->setCurrentIndex(index);
}

void PageControl::setCurrentWidget(QWidget* page) { setCurrentIndex(indexOf(page)); }

void PageControl::keyPressEvent(QKeyEvent* event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  int step = 0;
  if (ctrl && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_PageDown)) step = 1;
  if (ctrl && (event->key() == Qt::Key_Backtab || event->key() == Qt::Key_PageUp)) step = -1;
  if (step == 0 || count() == 0) {
    QWidget::keyPressEvent(event);
    return;
  }
  setCurrentIndex((currentIndex() + step + count()) % count());
  event->accept();
}
