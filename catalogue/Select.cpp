#include "catalogue/Select.h"

#include <QAbstractListModel>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>

#include "forms/Forms.h"
#include "forms/MessageBoxes.h"
#include "platform/Paths.h"
#include "platform/winapi.h"
#include "texts/Texts.h"

TSelectForm* SelectForm = nullptr;

namespace {

QString fromText(const std::string& text) { return QString::fromLocal8Bit(text); }

std::string toText(const QString& text) { return text.toLocal8Bit().toStdString(); }

QGroupBox* frame(QWidget* parent, const char* title, const QRect& geometry) {
  auto* box = new QGroupBox(QString::fromLatin1(title), parent);
  box->setGeometry(geometry);
  QFont font = box->font();
  font.setPointSize(10);
  box->setFont(font);
  return box;
}

}  // namespace

class TCatalogueListBox::Model : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;
  CatalogueEntryList entries;

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(entries.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::DisplayRole) return fromText(entries[static_cast<size_t>(index.row())].name);
    if (role == Qt::SizeHintRole) return QSize(1, 13);
    return {};
  }

  void replace(CatalogueEntryList newEntries) {
    beginResetModel();
    entries = std::move(newEntries);
    endResetModel();
  }
};

TCatalogueListBox::TCatalogueListBox(QWidget* parent) : QListView(parent), items(new Model(this)) {
  setModel(items);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QFont font = this->font();
  font.setPixelSize(11);
  setFont(font);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (!settingIndex) emit UserSelected();
  });
}

void TCatalogueListBox::SetEntries(CatalogueEntryList entries) {
  SortEntries(entries);
  items->replace(std::move(entries));
}

void TCatalogueListBox::Clear() { items->replace({}); }

int TCatalogueListBox::Count() const { return static_cast<int>(items->entries.size()); }

const CatalogueEntry& TCatalogueListBox::Entry(int index) const { return items->entries.at(static_cast<size_t>(index)); }

int TCatalogueListBox::ItemIndex() const {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.first().row();
}

void TCatalogueListBox::SetItemIndex(int index) {
  settingIndex = true;
  const QModelIndex item = items->index(index);
  selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
  scrollTo(item);
  settingIndex = false;
}

TSelectForm::TSelectForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SelectForm"));
  setWindowTitle(QString::fromLatin1(Texts::SelectDialogTitle));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  ApplyFormStyle(this);
  setFixedSize(422, 308);

  GroupBox1 = frame(this, " Key words ", QRect(3, 2, 416, 45));
  SelectEdit = new QLineEdit(GroupBox1);
  SelectEdit->setGeometry(7, 15, 402, 24);
  GroupBox2 = frame(this, " Vendor ", QRect(3, 49, 136, 204));
  ListBox1 = new TCatalogueListBox(GroupBox2);
  ListBox1->setGeometry(6, 15, 123, 182);
  GroupBox3 = frame(this, " Device ", QRect(142, 49, 278, 204));
  ListBox2 = new TCatalogueListBox(GroupBox3);
  ListBox2->setGeometry(6, 15, 265, 182);
  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("&OK"), this);
  BitBtn1->setGeometry(4, 256, 128, 27);
  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("&Cancel"), this);
  BitBtn2->setGeometry(260, 256, 128, 27);
  // Enter and Esc are taken by the dialog itself before any control.
  BitBtn1->setAutoDefault(false);
  BitBtn2->setAutoDefault(false);
  BitBtn1->setDefault(true);
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setGeometry(0, 288, 422, 20);
  statusPanel = new QLabel(StatusBar1);
  StatusBar1->addWidget(statusPanel, 1);

  setTabOrder(SelectEdit, ListBox1);
  setTabOrder(ListBox1, ListBox2);
  setTabOrder(ListBox2, BitBtn1);
  setTabOrder(BitBtn1, BitBtn2);
  for (QObject* control : {static_cast<QObject*>(SelectEdit), static_cast<QObject*>(ListBox1),
                           static_cast<QObject*>(ListBox2), static_cast<QObject*>(ListBox2->viewport()),
                           static_cast<QObject*>(BitBtn1), static_cast<QObject*>(BitBtn2)})
    control->installEventFilter(this);
  connect(SelectEdit, &QLineEdit::textChanged, this, [this] { RunReportingErrors([this] { SelectEditChange(); }); });
  connect(ListBox1, &TCatalogueListBox::UserSelected, this, [this] { RunReportingErrors([this] { ListBox1Click(); }); });
  connect(ListBox2, &TCatalogueListBox::UserSelected, this, [this] { RunReportingErrors([this] { ListBox2Click(); }); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { RequestClose(); });

  CatalogueLines = std::make_unique<CatalogueLineList>();
  const std::string path = CataloguePath();
  if (!FileExists(path)) {
    ReportCatalogueFault(Texts::CatalogueMissing);
    return;
  }
  *CatalogueLines = LoadCatalogue(path);
  try {
    ListAllVendors();
  } catch (const std::exception&) {
    ReportCatalogueFault(Texts::CatalogueWrongFormat);
  }
}

void TSelectForm::ReportCatalogueFault(const char* text) {
  AppMessageBox(text, Texts::ErrorCaptionBang, MB_OK | MB_ICONSTOP);
  CatalogueFailed = true;
}

std::string TSelectForm::StatusText() const { return toText(statusPanel->text()); }

std::string TSelectForm::StatusHint() const { return toText(StatusBar1->toolTip()); }

bool TSelectForm::Execute() {
  exec();
  return !SelectedDevice.empty() && !ProgramPath.empty();
}

template <typename Rule>
void TSelectForm::Apply(Rule rule) {
  try {
    rule();
  } catch (...) {
    ShowSelection();
    throw;
  }
  ShowSelection();
}

// A list is replaced only when the rules refilled it, and a selection is set
// without running the list's handler.
void TSelectForm::ShowSelection() {
  const auto show = [](TCatalogueListBox* box, const SelectionList& list, unsigned& shown) {
    if (list.fill != shown) {
      box->SetEntries(list.entries);
      shown = list.fill;
    }
    if (box->ItemIndex() != list.selected) box->SetItemIndex(list.selected);
  };
  show(ListBox1, rules.Vendors(), vendorsShown);
  show(ListBox2, rules.Devices(), devicesShown);
  statusPanel->setText(fromText(rules.StatusText));
  StatusBar1->setToolTip(fromText(rules.StatusHint));
}

void TSelectForm::ListAllVendors() {
  Apply([this] { rules.ListAllVendors(); });
}

void TSelectForm::FormShow() {
  // Emptying a keyword runs SelectEditChange, so that the field and the rules
  // agree before the showing starts.
  SelectEdit->setText(QString());
  SelectEdit->setFocus();
  Apply([this] { rules.ShowStarted(); });
}

void TSelectForm::ListBox1Click() {
  Apply([this] { rules.SelectVendor(ListBox1->ItemIndex()); });
}

void TSelectForm::ListBox2Click() {
  Apply([this] { rules.SelectDevice(ListBox2->ItemIndex()); });
}

void TSelectForm::SelectEditChange() {
  Apply([this] { rules.KeywordChanged(toText(SelectEdit->text())); });
}

void TSelectForm::SelectEditKeyUp() {
  Apply([this] { rules.KeywordKeyUp(); });
}

void TSelectForm::SelectEditKeyPress() {
  if (ListBox1->Count() == 0) return;
  // Selecting the vendor also selects its first device.
  Apply([this] { rules.SelectVendor(0); });
  if (ListBox1->Count() == 1) ListBox2->setFocus();
  else ListBox1->setFocus();
}

void TSelectForm::ListBox1KeyDown() {
  if (ListBox1->Count() == 0) return;
  Apply([this] { rules.SelectDevice(0); });
  ListBox2->setFocus();
}

void TSelectForm::ListBox2KeyDown() { ListBox2DblClick(); }

void TSelectForm::ListBox2DblClick() {
  rules.Choose();
  RequestClose();
}

void TSelectForm::BitBtn1Click() { ListBox2DblClick(); }

void TSelectForm::FormKeyDown() { RequestClose(); }

void TSelectForm::SelectEditEnter() {
  Apply([this] { rules.KeywordFieldEntered(); });
}

void TSelectForm::ListBox1Enter() {
  Apply([this] { rules.VendorListEntered(); });
}

void TSelectForm::FormCloseQuery(bool& CanClose) {
  const CloseAnswer answer = rules.ConfirmQuery();
  if (!answer.message.empty()) AppMessageBox(answer.message, answer.caption, MB_OK | MB_ICONSTOP);
  ShowSelection();
  CanClose = answer.canClose;
}

void TSelectForm::RequestClose() {
  bool canClose = true;
  FormCloseQuery(canClose);
  if (canClose) QDialog::done(QDialog::Rejected);
}

void TSelectForm::reject() { RequestClose(); }

void TSelectForm::closeEvent(QCloseEvent* event) {
  if (!isVisible()) {
    event->accept();
    return;
  }
  RequestClose();
  event->setAccepted(!isVisible());
}

void TSelectForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  CenterOver(this, parentWidget());
  RunReportingErrors([this] { FormShow(); });
}

// Plain Enter presses the default button; Enter with Shift (typed into the
// keyword field) or with Shift or Ctrl (down in a list) reaches the control.
void TSelectForm::EnterKeyDown(QObject* watched, Qt::KeyboardModifiers modifiers) {
  modifiers &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
  if (modifiers == Qt::NoModifier) BitBtn1Click();
  else if (watched == SelectEdit && modifiers == Qt::ShiftModifier) SelectEditKeyPress();
  else if (watched == ListBox1) ListBox1KeyDown();
  else if (watched == ListBox2) ListBox2KeyDown();
}

bool TSelectForm::eventFilter(QObject* watched, QEvent* event) {
  bool handled = false;
  switch (event->type()) {
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Escape) {
        FormKeyDown();
        handled = true;
      } else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        RunReportingErrors([&] { EnterKeyDown(watched, key->modifiers()); });
        handled = true;
      }
      break;
    }
    case QEvent::KeyRelease:
      if (watched == SelectEdit && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
        RunReportingErrors([this] { SelectEditKeyUp(); });
      break;
    case QEvent::FocusIn: {
      // Showing the dialog or coming back to it is not entering a control.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (!isActiveWindow() || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) break;
      if (watched == SelectEdit) SelectEditEnter();
      else if (watched == ListBox1) ListBox1Enter();
      break;
    }
    case QEvent::MouseButtonDblClick:
      if (watched == ListBox2->viewport() && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        RunReportingErrors([this] { ListBox2DblClick(); });
      break;
    default:
      break;
  }
  return handled || QDialog::eventFilter(watched, event);
}
