#include "app/tracewindow.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include "app/uiservices.h"
#include "regtest/logfile.h"

// ---- TraceModel --------------------------------------------------------

TraceModel::TraceModel(int capacity, QObject* parent)
    : QAbstractTableModel(parent), capacity_(capacity > 0 ? capacity : 1) {}

int TraceModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

int TraceModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

const km_text::TraceRow& TraceModel::row(int i) const {
  return ring_[(head_ + static_cast<size_t>(i)) % ring_.size()];
}

QVariant TraceModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_) return QVariant();
  if (role == Qt::TextAlignmentRole && (index.column() == kMs || index.column() == kSeq))
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return QVariant();
  const km_text::TraceRow& r = row(index.row());
  switch (index.column()) {
    case kTime: return QString::fromStdString(r.time);
    case kDirection: return QString::fromStdString(r.direction);
    case kSeq: return QString::fromStdString(r.seq);
    case kCommand: return QString::fromStdString(r.command);
    case kData: return QString::fromStdString(r.sent);
    case kAnswer: return QString::fromStdString(r.answer);
    case kFlags: return QString::fromStdString(r.flags);
    default: return r.durationMs;
  }
}

QVariant TraceModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  static const char* const kCaptions[kColumns] = {"Время", "Напр.", "SEQ", "Команда",
                                                  "Данные", "Ответ", "Флаги", "мс"};
  return section >= 0 && section < kColumns ? QString::fromUtf8(kCaptions[section]) : QVariant();
}

bool TraceModel::append(km_text::TraceRow row) {
  const bool wasEmpty = pending_.empty();
  pending_.push_back(std::move(row));
  // Rows that would be dropped at the next flush anyway are dropped now.
  if (static_cast<int>(pending_.size()) > capacity_) pending_.pop_front();
  return wasEmpty;
}

void TraceModel::flush() {
  const int k = static_cast<int>(pending_.size());
  if (k == 0) return;
  if (k >= capacity_) {
    // The queue alone fills the window: show it in place of everything.
    beginResetModel();
    ring_.assign(std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()));
    head_ = 0;
    count_ = k;
    pending_.clear();
    endResetModel();
    return;
  }
  if (ring_.empty()) ring_.resize(static_cast<size_t>(capacity_));
  const int overflow = count_ + k - capacity_;
  if (overflow > 0) {
    beginRemoveRows(QModelIndex(), 0, overflow - 1);
    head_ = (head_ + static_cast<size_t>(overflow)) % ring_.size();
    count_ -= overflow;
    endRemoveRows();
  }
  beginInsertRows(QModelIndex(), count_, count_ + k - 1);
  for (km_text::TraceRow& r : pending_) {
    ring_[(head_ + static_cast<size_t>(count_)) % ring_.size()] = std::move(r);
    ++count_;
  }
  pending_.clear();
  endInsertRows();
}

void TraceModel::clear() {
  beginResetModel();
  ring_.clear();
  head_ = 0;
  count_ = 0;
  pending_.clear();
  endResetModel();
}

QByteArray TraceModel::text() const {
  QByteArray out;
  for (int i = 0; i < count_; ++i) {
    const km_text::TraceRow& r = row(i);
    out += km_text::TraceRowLine(r);
    out += '\n';
    out += r.hex;
  }
  return out;
}

// ---- TraceWindow -------------------------------------------------------

TraceWindow::TraceWindow(QWidget* parent, int capacity)
    : QWidget(parent, Qt::Window), model_(new TraceModel(capacity, this)) {
  setObjectName(QStringLiteral("TraceWindow"));
  setWindowTitle(QStringLiteral("Протокол обмена — KM4410R"));
  MakeTable();
  MakeBytesView();

  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->addWidget(table_);
  splitter->addWidget(bytes_);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 1);
  splitter->setChildrenCollapsible(false);

  // The buttons are the window's children before the splitter is: first in
  // the focus chain, as the keyboard user expects.
  QHBoxLayout* buttons = MakeButtons();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(splitter, 1);
  layout->addLayout(buttons);
  resize(980, 420);

  connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { ShowSelectedBytes(); });
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kFlushMs);
  connect(&flushTimer_, &QTimer::timeout, this, &TraceWindow::flush);
  UpdateCount();

  hook_.Attach(&TraceWindow::Observe, this);
}

void TraceWindow::MakeTable() {
  table_ = new QTableView;
  table_->setObjectName(QStringLiteral("TraceTable"));
  table_->setAccessibleName(QStringLiteral("Обмены с регистратором"));
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->setTextElideMode(Qt::ElideRight);
  table_->verticalHeader()->hide();
  // Uniform rows: the view never measures the rows' texts.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  QHeaderView* header = table_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setHighlightSections(false);
  const QFontMetrics fm = table_->fontMetrics();
  const auto width = [&fm](const char* sample) { return fm.horizontalAdvance(QString::fromUtf8(sample)) + 14; };
  table_->setColumnWidth(TraceModel::kTime, width("00:00:00.000"));
  table_->setColumnWidth(TraceModel::kDirection, width("Напр."));
  table_->setColumnWidth(TraceModel::kSeq, width("SEQ"));
  table_->setColumnWidth(TraceModel::kCommand, width("4A Получить состояние регистр"));
  table_->setColumnWidth(TraceModel::kData, width("\"0000,9162,1\""));
  table_->setColumnWidth(TraceModel::kAnswer, width("ответ \"1.00,14.11.26,Эмулятор\""));
  table_->setColumnWidth(TraceModel::kMs, width("00000"));
  // The flags take what is left, so that the last column stays in view.
  header->setSectionResizeMode(TraceModel::kFlags, QHeaderView::Stretch);
  header->setMinimumSectionSize(width("мс"));
}

void TraceWindow::MakeBytesView() {
  bytes_ = new QPlainTextEdit;
  bytes_->setObjectName(QStringLiteral("TraceBytesView"));
  bytes_->setAccessibleName(QStringLiteral("Байты обмена"));
  bytes_->setReadOnly(true);
  bytes_->setLineWrapMode(QPlainTextEdit::NoWrap);
  bytes_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  bytes_->setUndoRedoEnabled(false);
  bytes_->hide();
}

QHBoxLayout* TraceWindow::MakeButtons() {
  auto button = [this](const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    return b;
  };
  QPushButton* clear = button("TraceClear", "Очистить");
  pause_ = button("TracePause", "Пауза");
  pause_->setCheckable(true);
  pause_->setToolTip(QStringLiteral("Пока нажата, обмены не записываются"));
  QPushButton* save = button("TraceSave", "Сохранить");
  showBytes_ = button("TraceBytes", "Байты");
  showBytes_->setCheckable(true);
  showBytes_->setToolTip(QStringLiteral("Байты выбранного обмена, как на линии"));
  count_ = new QLabel;
  count_->setObjectName(QStringLiteral("TraceCount"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(clear);
  buttons->addWidget(pause_);
  buttons->addWidget(save);
  buttons->addWidget(showBytes_);
  buttons->addStretch(1);
  buttons->addWidget(count_);

  connect(clear, &QPushButton::clicked, this, &TraceWindow::ClearClick);
  connect(save, &QPushButton::clicked, this, &TraceWindow::SaveClick);
  connect(showBytes_, &QPushButton::clicked, this, &TraceWindow::BytesClick);
  return buttons;
}

TraceWindow::~TraceWindow() = default;  // the hook takes back only its own place

void TraceWindow::Observe(const ExchangeTrace& trace, void* context) {
  // Inside the exchange: copy the trace and return. No events, no boxes.
  auto* w = static_cast<TraceWindow*>(context);
  if (!w->pause_->isChecked() && w->model_->append(km_text::MakeTraceRow(trace)))
    w->flushTimer_.start();
  w->hook_.Forward(trace);
}

void TraceWindow::flush() {
  flushTimer_.stop();
  if (model_->pending() == 0) return;
  // Follow the newest row unless the user has scrolled up to read.
  QScrollBar* bar = table_->verticalScrollBar();
  const bool atEnd = bar->value() >= bar->maximum();
  model_->flush();
  if (atEnd) table_->scrollToBottom();
  UpdateCount();
  if (showBytes_->isChecked() && !table_->currentIndex().isValid()) ShowSelectedBytes();
}

void TraceWindow::ClearClick() {
  model_->clear();
  bytes_->clear();
  UpdateCount();
}

void TraceWindow::SaveClick() {
  flush();
  const QString path = ui::chooseSaveFile(this, QStringLiteral("Сохранить протокол обмена"),
                                          QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*)"));
  if (path.isEmpty()) return;
  QString reason;
  if (!regtest::SaveFileBytes(path, model_->text(), &reason)) {
    ui::showMessage(QStringLiteral("Не удалось сохранить протокол обмена в файл\n%1\n%2.\n"
                                   "Прежний файл не изменён.")
                        .arg(path, reason));
  }
}

void TraceWindow::BytesClick() {
  bytes_->setVisible(showBytes_->isChecked());
  ShowSelectedBytes();
  // The pane takes room from the table: the selected row stays in view.
  // (once the layout has given it its new height).
  QTimer::singleShot(0, this, [this] {
    if (table_->currentIndex().isValid()) table_->scrollTo(table_->currentIndex());
  });
}

void TraceWindow::ShowSelectedBytes() {
  if (!showBytes_->isChecked()) return;
  // The selected exchange, or the newest when none is selected.
  const QModelIndex current = table_->currentIndex();
  const int n = model_->rowCount();
  const int i = current.isValid() ? current.row() : n - 1;
  if (i < 0 || i >= n) {
    bytes_->clear();
    return;
  }
  const km_text::TraceRow& r = model_->row(i);
  QString text = QString::fromStdString(km_text::TraceRowLine(r) + "\n" + r.hex);
  text.chop(1);  // the last line end
  bytes_->setPlainText(text);
}

void TraceWindow::UpdateCount() {
  count_->setText(QStringLiteral("Обменов: %1 (хранятся последние %2)")
                      .arg(model_->rowCount())
                      .arg(model_->capacity()));
}
