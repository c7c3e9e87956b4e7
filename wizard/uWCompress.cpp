#include "uWCompress.h"

#include "DesktopKeys.h"
#include "FormLoading.h"
#include "MessageBox.h"
#include "ProcessMessages.h"
#include "ProgramFolder.h"
#include "SelectionLists.h"
#include "SpoolFolder.h"
#include "StringConvert.h"
#include "platform/CurrentDirectory.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/ProgramStart.h"
#include "platform/TextEncoding.h"
#include "platform/Wildcard.h"
#include "selfextract/ResourceUpdate.h"
#include "selfextract/SelfExtractor.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QScreen>
#include <QSignalBlocker>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <utility>

// Q_INIT_RESOURCE declares its function where it is used, so it must stand outside any
// namespace. The pictures live in this static library; without the call the linker
// leaves them out and every picture would be blank.
static void LoadWizardResources() {
    Q_INIT_RESOURCE(wizard);
}

namespace kp {

std::int32_t Step = 0;
bool CancelRequested = false;
std::string SpoolCabFile;
std::vector<std::string> PendingTrees;
std::vector<std::string> PendingFolders;
std::string TreeSelection;
std::string FolderSelection;

namespace {

constexpr char kClipFile[] = "solefile.avi";
constexpr char kDefaultPrompt[] = "Remove files from cabinet?";
constexpr char kSpoolCabName[] = "kspool.cab";
constexpr char kAllFiles[] = "*.*";
// The builder reports every file and every 32 KB block it compresses; for small files
// and fast blocks that is thousands of times a second. The bar repaints itself at once
// whenever its value changes, the label measures the name it is given, and handling
// the window's events paints what changed: done at every report, that took nearly a
// quarter of the builder's thread on a tree of small files. Half a frame at 60 Hz still shows
// every change a screen can, sees Cancel and advances the clip in time.
constexpr qint64 kRunAnswerMs = 8;

// The folder threshold a TrackFolder position selects: 1 MB doubled (position - 1)
// times. Position 12 gives 2^31, which the signed 32-bit property holds as the pattern
// with only its top bit set; the cabinet service reads the threshold as unsigned.
std::int32_t FolderSizeFor(int position) {
    std::uint32_t size = 1048576;
    for (int doubling = 1; doubling < position; ++doubling) {
        size *= 2;
    }
    return static_cast<std::int32_t>(size);
}

// A folder entry of the builder: the folder, a separator and the mask of every file.
// A folder listed with its trailing separator ("/", or "doc/" as a shell completes it)
// gets no second one, which would reach every stored name as an empty path component.
std::string AllFilesOf(const std::string& folder) {
    return platform::withTrailingSeparator(folder) + kAllFiles;
}

void SetUpFolderBrowser(TBrowseFolder& browser, const char* name, const char* title,
                        const char* caption) {
    browser.setObjectName(QLatin1String(name));
    browser.setTitle(title);
    browser.setFlags({bfFileSysDirsOnly, bfStatusText});
    browser.setShowPathInStatusArea(true);
    browser.setCustomButtonVisible(true);
    browser.setCustomButtonCaption(caption);
    browser.setSyncCustomButton(false);
}

// A relative name on the command line means a file where the program was started; a
// typed folder moves the current directory later, and the name would then lead to a
// different file. So it is made whole now, the way a drop delivers names.
std::string FromStartDirectory(const std::string& name) {
    if (name.empty() || name.front() == platform::kPathSeparator) {
        return name;
    }
    const std::string start = platform::currentDirectory();
    if (start.empty()) {
        return name;
    }
    // A leading "./" says only what the joined name says anyway.
    std::string::size_type from = 0;
    while (name.compare(from, 2, std::string{'.', platform::kPathSeparator}) == 0) {
        from += 2;
    }
    return platform::withTrailingSeparator(start) + name.substr(from);
}

// The add button of the Tree and Folder pages: a folder is taken when it can be made
// the current directory, which it then stays.
void AddTypedFolder(const QLineEdit& edit, QListWidget& list) {
    const std::string text = PathFromQString(edit.text());
    if (!platform::setCurrentDirectory(text)) {
        return;
    }
    if (text.empty() || ListHolds(list, text)) {
        return;
    }
    AppendEntry(list, text);
}

// The browse button of the Tree and Folder pages: only the folders queued with the
// browser's own button are listed, and only when it is closed with OK.
void BrowseForFolders(TBrowseFolder& browser, std::vector<std::string>& pending,
                      QListWidget& list) {
    pending.clear();
    if (!browser.Execute()) {
        return;
    }
    for (const std::string& folder : pending) {
        if (!ListHolds(list, folder)) {
            AppendEntry(list, folder);
        }
    }
}

// The browsers' own button. A selection without a path (no folder selected) is
// neither queued nor reported: an empty tree or folder entry would stand for the
// current directory.
void QueueSelection(TBrowseFolder& browser, const std::string& selection, const char* report,
                    std::vector<std::string>& pending, const QListWidget& list) {
    if (selection.empty()) {
        return;
    }
    if (!ListHolds(list, selection)) {
        pending.push_back(selection);
    }
    browser.SetStatusText(browser.DialogHandle(), report + ("\"" + selection + "\"."));
}

// The lists' click handlers copy only what the user picks; entries that go away
// take nothing into the edit box.
// Taking an item out moves the current row, and a list that selects one entry at a
// time selects the new current one: the entries to remove are fixed first, and nothing
// is left selected after, so a second press cannot take an entry nobody chose.
void RemoveSelected(QListWidget& list) {
    const QSignalBlocker quiet(list);
    for (QListWidgetItem* item : list.selectedItems()) {
        std::unique_ptr<QListWidgetItem>(list.takeItem(list.row(item))).reset();
    }
    list.clearSelection();
}

void ClearList(QListWidget& list) {
    const QSignalBlocker quiet(list);
    list.clear();
}

void CopyCurrentEntry(const QListWidget& list, QLineEdit& edit) {
    if (const QListWidgetItem* current = list.currentItem()) {
        edit.setText(current->text());
    }
}

} // namespace

TcWizard::TcWizard(std::vector<std::string> CommandLine, QWidget* parent)
    : QWidget(parent), cab(this), commandLine_(std::move(CommandLine)) {
    LoadWizardResources();
    SubstituteFormFonts();
    setupUi(this);
    // A window of fixed size: a title bar with the system menu, minimise and close,
    // but nothing that would make it bigger.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    NarrowFormFontToFit(this);
    AdjustAutoSizeLabels(this);
    SetUpComponents();
    BindHandlers();
    UseDesktopKeys(*this);
    FormCreate(this);
}

TcWizard::~TcWizard() = default;

// The settings the form gives the components and the link labels' addresses, which a
// form description holds as text.
void TcWizard::SetUpComponents() {
    for (TKUrlLabel* link : findChildren<TKUrlLabel*>()) {
        link->setURL(ToStdString(link->property("URL").toString()));
    }

    bTree = new TBrowseFolder(this);
    SetUpFolderBrowser(*bTree, "bTree", "Choose Trees to Compress:", "Add &Tree");
    bFolder = new TBrowseFolder(this);
    SetUpFolderBrowser(*bFolder, "bFolder", "Choose the Folders to Compress:", "Add &Folder");
    bFiles = new QFileDialog(this, QStringLiteral("Choose the Files to Compress:"));
    bFiles->setObjectName(QStringLiteral("bFiles"));
    bFiles->setAcceptMode(QFileDialog::AcceptOpen);
    bFiles->setFileMode(QFileDialog::ExistingFiles);
    bFiles->setNameFilter(QStringLiteral("All Files (*)"));

    dd = new TFileDrop(this);
    dd->setObjectName(QStringLiteral("dd"));
    dd->setEnableDrop(true);
    dd->setDropControl(Steps);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(100);

    save = new TSaveDialog(this);
    save->setObjectName(QStringLiteral("save"));
    save->setTitle("Choose a Name for Self Extracting File:");
    save->setDefaultExt("EXE");
    // Names are case-sensitive here: both spellings of the extension are executables.
    save->setFilter({"Executable Files (*.EXE *.exe)", "All Files (*)"});
    save->setPathMustExist(true);

    cab.setName("cab");
    cab.setFolderSize(kDefaultFolderSize);
    cab.setDiskSize(kDefaultDiskSize);
    cab.setReserved(0);
    cab.setCompType(ctMsZip);
    cab.setCompFactor(3);
    cab.setStorePath(true);
    cab.setPartialPath(false);
}

void TcWizard::BindHandlers() {
    const auto onClick = [this](QAbstractButton* button, void (TcWizard::*handler)(QObject*)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, button, handler] { (this->*handler)(button); });
    };
    onClick(wcancel, &TcWizard::wcancelClick);
    onClick(cbTree, &TcWizard::cbTreeClick);
    onClick(cbFolder, &TcWizard::cbFolderClick);
    onClick(wnext, &TcWizard::wnextClick);
    onClick(wback, &TcWizard::wbackClick);
    onClick(cbFiles, &TcWizard::cbFilesClick);
    onClick(aTree, &TcWizard::aTreeClick);
    onClick(cTree, &TcWizard::cTreeClick);
    onClick(sTree, &TcWizard::sTreeClick);
    onClick(aFolder, &TcWizard::aFolderClick);
    onClick(sFolder, &TcWizard::sFolderClick);
    onClick(cFolder, &TcWizard::cFolderClick);
    onClick(aFiles, &TcWizard::aFilesClick);
    onClick(sFiles, &TcWizard::sFilesClick);
    onClick(cFiles, &TcWizard::cFilesClick);
    onClick(bCancel, &TcWizard::bCancelClick);
    onClick(BitBtn1, &TcWizard::BitBtn1Click);
    onClick(Button3, &TcWizard::Button3Click);

    // A click on the entry already selected picks it again.
    const auto onSelect = [this](QListWidget* list, void (TcWizard::*handler)(QObject*)) {
        connect(list, &QListWidget::itemSelectionChanged, this,
                [this, list, handler] { (this->*handler)(list); });
        connect(list, &QListWidget::itemClicked, this,
                [this, list, handler] { (this->*handler)(list); });
    };
    onSelect(lTree, &TcWizard::lTreeClick);
    onSelect(lFolder, &TcWizard::lFolderClick);
    onSelect(lFiles, &TcWizard::lFilesClick);

    dd->OnDrop = [this](QObject* Sender) { ddDrop(Sender); };
    bTree->OnSelectionChanged = std::bind_front(&TcWizard::bTreeSelectionChanged, this);
    bTree->OnCustomButtonClick = std::bind_front(&TcWizard::bTreeCustomButtonClick, this);
    bFolder->OnSelectionChanged = std::bind_front(&TcWizard::bFolderSelectionChanged, this);
    bFolder->OnCustomButtonClick = std::bind_front(&TcWizard::bFolderCustomButtonClick, this);
    connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(Timer); });
    Timer->start();

    cab.OnMajorStatus = [this](tkFwCAB* Sender, const std::string& CabName, int Percent,
                               bool& Abort) { cabMajorStatus(Sender, CabName, Percent, Abort); };
    cab.OnMinorStatus = [this](tkFwCAB* Sender, const std::string& FileName, int Percent,
                               bool& Abort) { cabMinorStatus(Sender, FileName, Percent, Abort); };
    cab.OnErrorNotify = [this](tkFwCAB* Sender, int ErrID, int APICode, const std::string& ErrText,
                               int& Action) {
        cabErrorNotify(Sender, ErrID, APICode, ErrText, Action);
    };
    testRun_ = new TestRunFeedback(this);
    testRun_->OnFailed = [this](int exitCode) {
        MessageBox(xName->FileName() + " ended before it showed a window (exit code " +
                       std::to_string(exitCode) +
                       ").\rWine, which runs Windows programs here, may have failed to start "
                       "it; running it from a terminal shows Wine's messages.",
                   "Test Self Extract", MessageIcon::Error, MessageButtons::OK);
    };
    cab.OnWindowsNames = [this](tkFwCAB* Sender, const std::vector<TWindowsNameReport>& Reports,
                                bool& Abort) { cabWindowsNames(Sender, Reports, Abort); };
}

void TcWizard::showEvent(QShowEvent* event) {
    // Centred on the screen the first time it is shown; after that where the user put it.
    if (!placed_ && screen() != nullptr) {
        placed_ = true;
        move(screen()->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(event);
}

void TcWizard::closeEvent(QCloseEvent* event) {
    // The run and the build work inside Next's click and let the window handle messages
    // on their way; the window must outlive them, so the close waits for their end. A
    // run is cancelled first, so the wait is short.
    if (runUnderWay_) {
        bCancelClick(bCancel);
        closeWhenDone_ = true;
        event->ignore();
        return;
    }
    if (buildUnderWay_) {
        closeWhenDone_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TcWizard::FormCreate(QObject* /*Sender*/) {
    ani->setFileName(ProgramFolder() + kClipFile);
    ani->setActive(true);
    PendingTrees = {};
    PendingFolders = {};
    std::vector<std::string> names;
    if (commandLine_.empty()) {
        Step = 1;
        ShowStep();
    } else {
        for (const std::string& argument : commandLine_) {
            names.push_back(FromStartDirectory(argument));
        }
        AddDropped(names);
    }
}

void TcWizard::ShowStep() {
    pAddFiles->hide();
    pAddFolder->hide();
    pAddTree->hide();
    pFinal->hide();
    wback->setEnabled(Step != 1);
    wnext->setEnabled(Step != 8);
    dd->setEnableDrop(Step < 6);
    switch (Step) {
    case 1:
        ShowWelcomePage();
        break;
    case 2:
        ShowTreePage();
        break;
    case 3:
        ShowFolderPage();
        break;
    case 4:
        ShowFilesPage();
        break;
    case 5:
        ShowMethodPage();
        break;
    case 6:
        StartCompression();
        break;
    case 7:
        ShowSfxPage();
        break;
    case 8:
        ShowCoolPage();
        break;
    default:
        break;
    }
}

void TcWizard::ShowPage(const QString& heading, const char* name, QWidget* picture) {
    StatusText->setText(heading);
    Steps->setCurrentWidget(
        Steps->findChild<QWidget*>(QLatin1String(name), Qt::FindDirectChildrenOnly));
    picture->show();
}

void TcWizard::ShowWelcomePage() {
    ShowPage(QStringLiteral("Welcome to Pellix !"), "Welcome", pFinal);
}

void TcWizard::ShowTreePage() {
    ShowPage(QStringLiteral("Cab Trees"), "Tree", pAddTree);
}

void TcWizard::ShowFolderPage() {
    ShowPage(QStringLiteral("Cab Folders"), "Folder", pAddFolder);
}

void TcWizard::ShowFilesPage() {
    ShowPage(QStringLiteral("Cab Files"), "Files", pAddFiles);
}

void TcWizard::ShowMethodPage() {
    // A cancelled run leaves "Cancelling..." on the button.
    bCancel->setText(QStringLiteral("&Cancel !"));
    ShowPage(QStringLiteral("Compression Settings"), "Method", pFinal);
}

void TcWizard::StartCompression() {
    ShowPage(QStringLiteral("Now Compressing..."), "Compress", pFinal);
    EnableWizardButtons(false);
    CancelRequested = false;
    runUnderWay_ = true;
    ProcessMessages();
    // The first report is shown at once, so the bar starts from 0.
    lastAnswer_.invalidate();
    runPercent_ = p->value();
    runFile_ = cFile->FileName();

    // A failed delete (no such file, or one that cannot go) is the builder's to report,
    // as "Cabinet already exists".
    SpoolCabFile = SpoolFolder() + kSpoolCabName;
    platform::deleteFile(SpoolCabFile);
    cab.AddFiles().clear();
    cab.RecurseFiles().clear();
    cab.setCabFile(SpoolCabFile);
    cab.setDiskName("");
    cab.setCompFactor(Track->value());
    cab.setFolderSize(FolderSizeFor(TrackFolder->value()));
    cab.setThreads(QThread::idealThreadCount());
    if (LZX->isChecked()) {
        cab.setCompType(ctLzx);
    }
    if (MSZIP->isChecked()) {
        cab.setCompType(ctMsZip);
    }
    for (const std::string& tree : Entries(*lTree)) {
        if (CancelRequested) {
            break;
        }
        cab.RecurseFiles().push_back(AllFilesOf(tree));
    }
    for (const std::string& folder : Entries(*lFolder)) {
        if (CancelRequested) {
            break;
        }
        cab.AddFiles().push_back(AllFilesOf(folder));
    }
    bool fileMissing = false;
    for (const std::string& file : Entries(*lFiles)) {
        if (CancelRequested) {
            break;
        }
        // The builder takes a name as a mask, and a mask that matches nothing adds
        // nothing without a word: a listed file that is gone would be missing from the
        // cabinet unnoticed.
        if (!platform::hasWildcard(file) && !platform::fileExists(file)) {
            int Action = kActionSkip;
            cabErrorNotify(&cab, kErrAddOrFlush, static_cast<int>(platform::notFoundError(file)),
                           file + ": no such file", Action);
            fileMissing = true;
            break;
        }
        cab.AddFiles().push_back(file);
    }

    // A cancel that came before the build still runs it, so that the builder reports
    // the stop the way it reports one during the run.
    if (!fileMissing) {
        cab.BuildCabinet();
        ShowRunStatus();
    }
    runUnderWay_ = false;
    if (!CancelRequested) {
        Step = 7;
        ShowStep();
    }
    EnableWizardButtons(true);
    if (closeWhenDone_) {
        close();
    }
}

void TcWizard::ShowSfxPage() {
    ShowPage(QStringLiteral("Self Extract Creation"), "sfx", pFinal);
    // The target is chosen anew every time the page is entered.
    xName->setFileName("");
}

void TcWizard::ShowCoolPage() {
    // The self-extractor holds the cabinet now; a failed delete is not reported.
    platform::deleteFile(SpoolCabFile);
    ShowPage(QStringLiteral("Cab Complete !"), "Cool", pFinal);
}

void TcWizard::wnextClick(QObject* /*Sender*/) {
    if (Step != 7) {
        Step = Step + 1;
        ShowStep();
    } else if (xName->FileName().empty()) {
        MessageBox("Please specify a valid file name to use!", "Target EXE",
                   MessageIcon::Information, MessageButtons::OK);
    } else {
        BuildSelfExtractor();
    }
}

void TcWizard::wbackClick(QObject* /*Sender*/) {
    if (Step == 8) {
        Step = 2;
    }
    if (Step == 7) {
        Step = 6;
    }
    Step = Step - 1;
    ShowStep();
}

void TcWizard::wcancelClick(QObject* /*Sender*/) {
    QCoreApplication::quit();
}

void TcWizard::ddDrop(QObject* /*Sender*/) {
    AddDropped(dd->Files());
}

void TcWizard::AddDropped(const std::vector<std::string>& Names) {
    std::vector<std::string> folders;
    for (const std::string& name : Names) {
        // A name that names nothing joins the files, and the compression run reports it.
        const std::uint32_t attributes = platform::fileAttributes(name);
        if (attributes != platform::kInvalidFileAttributes &&
            (attributes & platform::kAttrDirectory) != 0) {
            folders.push_back(name);
        } else {
            AppendEntry(*lFiles, name);
        }
    }
    if (!folders.empty()) {
        const MessageResult answer =
            MessageBox("Do you wish to compress the dropped folders recursively?", "Question",
                       MessageIcon::Question, MessageButtons::YesNo);
        QListWidget* list = answer == MessageResult::Yes ? lTree : lFolder;
        for (const std::string& folder : folders) {
            AppendEntry(*list, folder);
        }
    }
    Step = 5;
    ShowStep();
}

void TcWizard::EnableWizardButtons(bool enabled) {
    wnext->setEnabled(enabled);
    wcancel->setEnabled(enabled);
    wback->setEnabled(enabled);
}

// The build stops at the first step that fails and reports that step's code. The
// target is written under another name and takes its own only when complete, so a
// failed build leaves no target and an earlier file of that name as it was.
void TcWizard::BuildSelfExtractor() {
    const std::string target = xName->FileName();
    buildUnderWay_ = true;
    // The build lets the window handle messages; a new name chosen meanwhile would not
    // be the file that was built.
    BitBtn1->setEnabled(false);

    std::uint32_t code = WriteSelfExtractor(target, selfextract::SfxLayout::Windows);
    if (code == platform::kErrorCallNotImplemented) {
        MessageBox("Your version of Windows does not support resource updating, which is "
                   "required by Pellix.\r"
                   "A DOS based self extracting cabinet will be created instead of a Windows "
                   "based self extracting cabinet.",
                   "Non-NT Windows Version", MessageIcon::Information, MessageButtons::OK);
        code = WriteSelfExtractor(target, selfextract::SfxLayout::Dos);
    }

    if (code != platform::kErrorSuccess) {
        MessageBox("Error Code: " + std::to_string(code) + "\rPlease try again!",
                   "Self Extract Complications", MessageIcon::Error, MessageButtons::OK);
        Step = 1;
    } else {
        Step = 8;
    }
    BitBtn1->setEnabled(true);
    ShowStep();
    buildUnderWay_ = false;
    if (closeWhenDone_) {
        close();
    }
}

std::uint32_t TcWizard::WriteSelfExtractor(const std::string& target,
                                           selfextract::SfxLayout layout) {
    moment1->show();
    EnableWizardButtons(false);
    ProcessMessages();

    selfextract::SfxRequest request;
    request.layout = layout;
    request.stub = ProgramFolder() + selfextract::stubFileName(layout);
    request.cabinet = SpoolCabFile;
    request.target = target;
    if (layout == selfextract::SfxLayout::Windows && platform::resourceUpdateAvailable()) {
        // An empty description stays filled in for later builds.
        if (cDescribe->text().isEmpty()) {
            cDescribe->setText(QString::fromLatin1(kDefaultPrompt));
        }
        request.prompt = ToStdString(cDescribe->text());
    }
    // Once the stub is read, the cabinet goes into the target piece by piece, and the
    // window stays responsive meanwhile.
    request.keepGoing = [this] {
        moment2->show();
        ProcessMessages();
        return true;
    };
    const selfextract::SfxResult result = selfextract::writeSelfExtractor(request);

    moment1->hide();
    moment2->hide();
    EnableWizardButtons(true);
    return result.code;
}

void TcWizard::cbTreeClick(QObject* /*Sender*/) {
    BrowseForFolders(*bTree, PendingTrees, *lTree);
}

void TcWizard::cbFolderClick(QObject* /*Sender*/) {
    BrowseForFolders(*bFolder, PendingFolders, *lFolder);
}

void TcWizard::cbFilesClick(QObject* /*Sender*/) {
    if (bFiles->exec() != QDialog::Accepted) {
        return;
    }
    for (const QString& file : bFiles->selectedFiles()) {
        const std::string path = PathFromQString(file);
        if (!ListHolds(*lFiles, path)) {
            AppendEntry(*lFiles, path);
        }
    }
}

void TcWizard::aTreeClick(QObject* /*Sender*/) {
    AddTypedFolder(*tTree, *lTree);
}

void TcWizard::cTreeClick(QObject* /*Sender*/) {
    ClearList(*lTree);
}

void TcWizard::sTreeClick(QObject* /*Sender*/) {
    RemoveSelected(*lTree);
}

void TcWizard::lTreeClick(QObject* /*Sender*/) {
    CopyCurrentEntry(*lTree, *tTree);
}

void TcWizard::aFolderClick(QObject* /*Sender*/) {
    AddTypedFolder(*tFolder, *lFolder);
}

void TcWizard::sFolderClick(QObject* /*Sender*/) {
    RemoveSelected(*lFolder);
}

void TcWizard::cFolderClick(QObject* /*Sender*/) {
    ClearList(*lFolder);
}

void TcWizard::lFolderClick(QObject* /*Sender*/) {
    CopyCurrentEntry(*lFolder, *tFolder);
}

void TcWizard::aFilesClick(QObject* /*Sender*/) {
    // Only an existing file that is not a folder, looked up from the current directory.
    const std::string text = PathFromQString(tFiles->text());
    if (text.empty() || !platform::fileExists(text) || ListHolds(*lFiles, text)) {
        return;
    }
    AppendEntry(*lFiles, text);
}

void TcWizard::sFilesClick(QObject* /*Sender*/) {
    RemoveSelected(*lFiles);
}

void TcWizard::cFilesClick(QObject* /*Sender*/) {
    ClearList(*lFiles);
}

void TcWizard::lFilesClick(QObject* /*Sender*/) {
    CopyCurrentEntry(*lFiles, *tFiles);
}

void TcWizard::bTreeCustomButtonClick(TBrowseFolder* /*Sender*/, QWidget* /*DialogHandle*/) {
    QueueSelection(*bTree, TreeSelection, "Added tree ", PendingTrees, *lTree);
}

void TcWizard::bFolderCustomButtonClick(TBrowseFolder* /*Sender*/, QWidget* /*DialogHandle*/) {
    QueueSelection(*bFolder, FolderSelection, "Added Folder ", PendingFolders, *lFolder);
}

void TcWizard::bFolderSelectionChanged(TBrowseFolder* /*Sender*/, QWidget* /*DialogHandle*/,
                                       const QModelIndex& /*ItemIDList*/,
                                       const std::string& Directory) {
    FolderSelection = Directory;
}

void TcWizard::bTreeSelectionChanged(TBrowseFolder* /*Sender*/, QWidget* /*DialogHandle*/,
                                     const QModelIndex& /*ItemIDList*/,
                                     const std::string& Directory) {
    TreeSelection = Directory;
}

void TcWizard::bCancelClick(QObject* /*Sender*/) {
    CancelRequested = true;
    bCancel->setText(QStringLiteral("Cancelling..."));
}

void TcWizard::TimerTimer(QObject* /*Sender*/) {
    Track->setEnabled(LZX->isChecked());
    if (MSZIP->isChecked()) {
        Track->setValue(1);
    }
}

void TcWizard::cabMajorStatus(tkFwCAB* /*Sender*/, const std::string& /*CabName*/, int Percent,
                              bool& Abort) {
    // Files created between the builder's two walks can take the count past 100.
    runPercent_ = std::clamp(Percent, p->minimum(), p->maximum());
    Abort = CancelRequested;
    AnswerDuringRun();
}

void TcWizard::cabMinorStatus(tkFwCAB* /*Sender*/, const std::string& FileName, int /*Percent*/,
                              bool& Abort) {
    runFile_ = FileName;
    Abort = CancelRequested;
    AnswerDuringRun();
}

void TcWizard::AnswerDuringRun() {
    if (lastAnswer_.isValid() && lastAnswer_.elapsed() < kRunAnswerMs) {
        return;
    }
    ShowRunStatus();
    ProcessMessages();
    lastAnswer_.start();
}

void TcWizard::ShowRunStatus() {
    p->setValue(runPercent_);
    cFile->setFileName(runFile_);
}

// What the wizard makes is always unpacked on Windows, so names that would not come back
// whole there are named before anything is compressed, and the user chooses: back to the
// lists to change them, or on with the loss.
void TcWizard::cabWindowsNames(tkFwCAB* /*Sender*/, const std::vector<TWindowsNameReport>& Reports,
                               bool& Abort) {
    ShowRunStatus();
    std::vector<std::string> lines;
    for (const TWindowsNameReport& report : Reports) {
        std::string line = report.FileName + ": ";
        switch (report.Issue) {
        case TWindowsNameIssue::Backslash:
            line += "holds a backslash and cannot be stored";
            break;
        case TWindowsNameIssue::NotCreatable:
            line += report.Reason;
            break;
        case TWindowsNameIssue::SameName:
            line += "Windows takes it for " + report.OtherFile;
            break;
        case TWindowsNameIssue::FileIsFolder:
            line += "on Windows it is also the folder holding " + report.OtherFile;
            break;
        }
        lines.push_back(line);
    }
    const std::string count = std::to_string(Reports.size());
    MessageResult answer = MessageBox(
        (Reports.size() == 1 ? std::string("One file") : count + " files") +
            " would not come back whole when the self extracting file is run on Windows." + '\r' +
            "Do you want to go back to the lists to change them?",
        "Names on Windows", MessageIcon::Warning, MessageButtons::YesNo, lines);
    ProcessMessages();
    if (answer == MessageResult::Yes) {
        Abort = true;
        CancelRequested = true;
        Step = 2;
        ShowStep();
    }
}

// Every failure ends the run; none is retried or skipped, so no file is left out of a
// cabinet that then looks complete.
void TcWizard::cabErrorNotify(tkFwCAB* Sender, int ErrID, int /*APICode*/,
                              const std::string& ErrText, int& Action) {
    if (runUnderWay_) {
        ShowRunStatus(); // the box comes up over the run's latest status
    }
    // A window being closed asked for the stop itself; the abort needs no explaining.
    const bool closing = closeWhenDone_ && ErrID == kErrUserAbort;
    if (!closing) {
        // The builder's texts do not say which file failed.
        std::string text = ErrText + '\r';
        if (ErrID == kErrAddOrFlush && Sender != nullptr && Sender->Phase() == BuildPhase::Adding &&
            !Sender->CurrentFile().empty()) {
            text += Sender->CurrentFile() + '\r';
        }
        MessageBox(text + "Please try again.", "Compression Complications", MessageIcon::Error,
                   MessageButtons::OK);
    }
    Action = kActionAbort;
    CancelRequested = true;
    Step = 5;
    ShowStep();
}

void TcWizard::BitBtn1Click(QObject* /*Sender*/) {
    if (save->Execute()) {
        xName->setFileName(save->FileName());
    }
}

// Started as a test run whose outcome is the user's to see; the wizard only shows that
// something is under way, and says so when the program could not be run at all.
void TcWizard::Button3Click(QObject* /*Sender*/) {
    auto watch = std::make_unique<platform::ProgramWatch>();
    const std::uint32_t started =
        platform::startProgram(xName->FileName(), platform::kShowNormal, watch.get());
    if (started > 31) {
        testRun_->Follow(std::move(watch));
        return;
    }
    std::string reason = platform::systemErrorMessage(started);
    if (started == platform::kErrorBadFormat) {
        reason += "\rWindows programs run here through Wine, which may not be installed.";
    }
    MessageBox(xName->FileName() + " could not be started:\r" + reason, "Test Self Extract",
               MessageIcon::Error, MessageButtons::OK);
}

} // namespace kp
