#include "transfer/Download.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <filesystem>

#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/Priority.h"
#include "platform/winapi.h"
#include "texts/Texts.h"
#include "transfer/FilePickers.h"
#include "transfer/TransferLine.h"

TDForm* DForm = nullptr;

namespace {

constexpr int kLevelRole = Qt::UserRole;
constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kLevelIndent = 8;

// Indents each folder of the directory list by its depth below the root.
class LevelDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem shifted(option);
    shifted.rect.setLeft(option.rect.left() + index.data(kLevelRole).toInt() * kLevelIndent);
    QStyledItemDelegate::paint(painter, shifted, index);
  }
};

QListWidget* NewList(QWidget* parent, const char* name, const QRect& place) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setGeometry(place);
  list->setUniformItemSizes(true);
  return list;
}

// Sets this process's priority class when the process can be opened, the test
// that it may be changed.
void SetOwnPriority(DWORD priorityClass) {
  HANDLE self = OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId());
  if (!self) return;
  SetPriorityClass(GetCurrentProcess(), priorityClass);
  CloseHandle(self);
}

}  // namespace

TDForm::TDForm(QWidget* owner, std::int32_t comNumber) : TTransferForm(owner, comNumber) {
  setObjectName(QStringLiteral("DForm"));
  setFixedSize(296, 325);

  SetDownloadLine(Comm1);

  GroupBox1 = new QGroupBox(QStringLiteral(" File Name "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(0, 0, 296, 42);

  CreateEdit(QRect(5, 14, 285, 21));

  DriveComboBox1 = new QComboBox(this);
  DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
  DriveComboBox1->setGeometry(2, 45, 145, 22);
  QFont driveFont = DriveComboBox1->font();
  driveFont.setPixelSize(13);
  DriveComboBox1->setFont(driveFont);
  for (const std::string& root : FileSystemRoots())
    DriveComboBox1->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), QString::fromLocal8Bit(root));
  connect(DriveComboBox1, &QComboBox::activated, this,
          [this](int index) { SetDirectory(DriveComboBox1->itemText(index).toLocal8Bit().toStdString()); });

  DirectoryListBox1 = NewList(this, "DirectoryListBox1", QRect(2, 69, 145, 208));
  DirectoryListBox1->setItemDelegate(new LevelDelegate(DirectoryListBox1));
  connect(DirectoryListBox1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    // Later: refilling the list deletes the item whose signal is being handled.
    const std::string path = item->data(kPathRole).toString().toLocal8Bit().toStdString();
    QMetaObject::invokeMethod(this, [this, path] { SetDirectory(path); }, Qt::QueuedConnection);
  });

  FileListBox1 = NewList(this, "FileListBox1", QRect(149, 45, 145, 232));
  connect(FileListBox1, &QListWidget::itemClicked, this, &TDForm::FileListBox1Click);
  // Choosing with the keys (arrows, Space, typing a name) picks the file as a
  // click does. The focus alone chooses nothing: the list then marks an
  // entry as current without selecting it, as a Windows list box does.
  connect(FileListBox1, &QListWidget::itemSelectionChanged, this, [this] {
    if (FileListBox1->hasFocus()) FileListBox1Click();
  });

  CreateButtons(QRect(6, 280, 81, 25), QRect(147, 281, 70, 24), QRect(220, 280, 75, 25));

  PBar = new QProgressBar(this);
  PBar->setObjectName(QStringLiteral("PBar"));
  PBar->setGeometry(0, 307, 296, 18);
  PBar->setRange(0, 100);
  PBar->setValue(0);
  PBar->setTextVisible(false);

  setTabOrder(BitBtn1, Edit1);
  setTabOrder(Edit1, DriveComboBox1);
  setTabOrder(DriveComboBox1, DirectoryListBox1);
  setTabOrder(DirectoryListBox1, FileListBox1);
  setTabOrder(FileListBox1, BitBtn3);
  setTabOrder(BitBtn3, BitBtn2);

  std::error_code error;
  SetDirectory(std::filesystem::current_path(error).string());

  // Transfers poll without sleeping, so the whole process steps back while
  // the dialog exists. Only where it can come back at close: an unprivileged
  // process on Linux could never raise itself again.
  if (PriorityClassReversible()) SetOwnPriority(IDLE_PRIORITY_CLASS);
}

void TDForm::SetDirectory(const std::string& path) {
  const DirectoryListing listing = ListDirectories(path);
  directory = path;
  DirectoryListBox1->clear();
  for (const DirectoryEntry& entry : listing.entries) {
    auto* item = new QListWidgetItem(
        style()->standardIcon(entry.open ? QStyle::SP_DirOpenIcon : QStyle::SP_DirClosedIcon),
        QString::fromLocal8Bit(entry.name), DirectoryListBox1);
    item->setData(kLevelRole, entry.level);
    item->setData(kPathRole, QString::fromLocal8Bit(entry.path));
    item->setSizeHint(QSize(0, 16));
  }
  DirectoryListBox1->setCurrentRow(listing.current);

  FileListBox1->clear();
  for (const std::string& name : ListFiles(path)) {
    auto* item = new QListWidgetItem(QString::fromLocal8Bit(name), FileListBox1);
    item->setSizeHint(QSize(0, 16));
  }

  std::vector<std::string> roots;
  for (int i = 0; i < DriveComboBox1->count(); ++i) roots.push_back(DriveComboBox1->itemText(i).toLocal8Bit().toStdString());
  DriveComboBox1->setCurrentIndex(DriveComboBox1->findText(QString::fromLocal8Bit(RootOf(path, roots))));
}

void TDForm::SetPickersColor(const QColor& color) {
  for (QWidget* picker : {static_cast<QWidget*>(DriveComboBox1), static_cast<QWidget*>(DirectoryListBox1),
                          static_cast<QWidget*>(FileListBox1)}) {
    QPalette palette = picker->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      palette.setColor(group, QPalette::Text, color);
      palette.setColor(group, QPalette::ButtonText, color);
    }
    picker->setPalette(palette);
  }
}

void TDForm::FormShow() {
  if (OpenPort(Texts::DownloadCaption)) {
    SetPickersColor(Qt::black);
    Stop = false;
    Edit1->setFocus();
    return;
  }
  DriveComboBox1->setEnabled(false);
  DirectoryListBox1->setEnabled(false);
  FileListBox1->setEnabled(false);
  SetPickersColor(QColor(192, 192, 192));
  ShowPortMessage();
}

void TDForm::FileListBox1Click() {
  if (BitBtn3->isEnabled()) return;
  const QList<QListWidgetItem*> selected = FileListBox1->selectedItems();
  const std::string name = selected.isEmpty() ? std::string() : selected.first()->text().toLocal8Bit().toStdString();
  Edit1->setText(QString::fromLocal8Bit(FileListPath(directory, name)));
  BitBtn1->setEnabled(true);
}

void TDForm::BitBtn1Click() {
  RunTransfer([this](TransferPort& port) {
    RunDownload(port, *this, Edit1->text().toLocal8Bit().toStdString(), NameMatch::Caseless);
  });
}

void TDForm::ProgressReset() { PBar->setValue(0); }

// A range of 0..0 is drawn as "busy": a file without blocks gets an empty bar.
void TDForm::ProgressRange(int blocks) { PBar->setMaximum(std::max(blocks, 1)); }

void TDForm::ProgressStep() { PBar->setValue(PBar->value() + 1); }

void TDForm::FormCloseQuery(bool& CanClose) {
  Stop = true;
  SetOwnPriority(NORMAL_PRIORITY_CLASS);
  CanClose = true;
}

void TDForm::FormClose() {
  if (Comm1.Enabled()) Comm1.Close();
}
