#include "uWCompress.h"

#include "FormLoading.h"
#include "MessageBox.h"
#include "ProcessMessages.h"
#include "ProgramFolder.h"
#include "StringConvert.h"
#include "platform/FileCopy.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/ProgramStart.h"
#include "platform/ResourceUpdate.h"
#include "platform/TextEncoding.h"
#include "platform/WholeFiles.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QScreen>
#include <QTimer>

#include <limits>
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
constexpr char kWindowsStub[] = "kstub16.exe";
constexpr char kDosStub[] = "kstub08.exe";
constexpr char kDefaultPrompt[] = "Remove files from cabinet?";

// The code the platform step that just failed left; never 0, so that a failure can
// never be taken for success.
std::uint32_t FailureCode() {
    const std::uint32_t code = platform::lastError();
    return code != platform::kErrorSuccess ? code : platform::kErrorGenFailure;
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
    FormCreate(this);
}

TcWizard::~TcWizard() = default;

// The settings the form gives the components and the link labels' addresses, which a
// form description holds as text.
void TcWizard::SetUpComponents() {
    for (TKUrlLabel* link : findChildren<TKUrlLabel*>()) {
        link->setURL(ToStdString(link->property("URL").toString()));
    }

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
    cab.setFolderSize(831415);
    cab.setDiskSize(2147483647);
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

    const auto onSelect = [this](QListWidget* list, void (TcWizard::*handler)(QObject*)) {
        connect(list, &QListWidget::itemSelectionChanged, this,
                [this, list, handler] { (this->*handler)(list); });
    };
    onSelect(lTree, &TcWizard::lTreeClick);
    onSelect(lFolder, &TcWizard::lFolderClick);
    onSelect(lFiles, &TcWizard::lFilesClick);

    dd->OnDrop = [this](QObject* Sender) { ddDrop(Sender); };
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
    // The build runs inside Next's click and lets the window handle messages on its
    // way; the window must outlive it, so the close waits for its end.
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
        names.assign(commandLine_.begin(), commandLine_.end());
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

void TcWizard::ShowPage(const char* name) {
    Steps->setCurrentWidget(
        Steps->findChild<QWidget*>(QLatin1String(name), Qt::FindDirectChildrenOnly));
}

void TcWizard::ShowWelcomePage() {
    StatusText->setText(QStringLiteral("Welcome to Pellix !"));
    ShowPage("Welcome");
    pFinal->show();
}

void TcWizard::ShowTreePage() {
    StatusText->setText(QStringLiteral("Cab Trees"));
    ShowPage("Tree");
    pAddTree->show();
}

void TcWizard::ShowFolderPage() {
    StatusText->setText(QStringLiteral("Cab Folders"));
    ShowPage("Folder");
    pAddFolder->show();
}

void TcWizard::ShowFilesPage() {
    StatusText->setText(QStringLiteral("Cab Files"));
    ShowPage("Files");
    pAddFiles->show();
}

void TcWizard::ShowMethodPage() {
    StatusText->setText(QStringLiteral("Compression Settings"));
    // A cancelled run leaves "Cancelling..." on the button.
    bCancel->setText(QStringLiteral("&Cancel !"));
    ShowPage("Method");
    pFinal->show();
}

void TcWizard::StartCompression() {
    StatusText->setText(QStringLiteral("Now Compressing..."));
    ShowPage("Compress");
    pFinal->show();
    // The run itself waits for the compression run: disable the wizard buttons, clear
    // CancelRequested, set up cab from the Method page and the three lists, build
    // "kspool.cab", and show the sfx page when it succeeded. Until then the page stays
    // as after a run ended by Cancel: Back leads to Method, Next to sfx.
}

void TcWizard::ShowSfxPage() {
    StatusText->setText(QStringLiteral("Self Extract Creation"));
    ShowPage("sfx");
    pFinal->show();
    // The target is chosen anew every time the page is entered.
    xName->setFileName("");
}

void TcWizard::ShowCoolPage() {
    // The self-extractor holds the cabinet now; a failed delete is not reported.
    platform::deleteFile(SpoolCabFile);
    StatusText->setText(QStringLiteral("Cab Complete !"));
    ShowPage("Cool");
    pFinal->show();
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

void TcWizard::AddDropped(const std::vector<std::string>& /*Names*/) {
    // Sorting the names into lFiles, lTree and lFolder (with the question whether
    // dropped folders are trees) waits for the selection lists.
    Step = 5;
    ShowStep();
}

void TcWizard::EnableWizardButtons(bool enabled) {
    wnext->setEnabled(enabled);
    wcancel->setEnabled(enabled);
    wback->setEnabled(enabled);
}

// The build stops at the first step that fails and reports that step's code. Once the
// target holds bytes of this build, a failure removes it again: a stub without its
// cabinet must not be mistaken for a self-extractor.
void TcWizard::BuildSelfExtractor() {
    const std::string target = xName->FileName();
    buildUnderWay_ = true;
    bool targetWritten = false;
    // The build lets the window handle messages; a new name chosen meanwhile would not
    // be the file that was built.
    BitBtn1->setEnabled(false);

    moment1->show();
    EnableWizardButtons(false);
    ProcessMessages();
    std::uint32_t code = WriteWindowsSelfExtractor(target, targetWritten);
    moment1->hide();
    moment2->hide();
    EnableWizardButtons(true);

    if (code == platform::kErrorCallNotImplemented) {
        MessageBox("Your version of Windows does not support resource updating, which is "
                   "required by Pellix.\r"
                   "A DOS based self extracting cabinet will be created instead of a Windows "
                   "based self extracting cabinet.",
                   "Non-NT Windows Version", MessageIcon::Information, MessageButtons::OK);
        moment1->show();
        EnableWizardButtons(false);
        ProcessMessages();
        code = WriteDosSelfExtractor(target);
        moment1->hide();
        moment2->hide();
        EnableWizardButtons(true);
    }

    if (code != platform::kErrorSuccess) {
        if (targetWritten) {
            platform::deleteFile(target);
        }
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

std::uint32_t TcWizard::WriteWindowsSelfExtractor(const std::string& target, bool& targetWritten) {
    using namespace platform;
    std::vector<std::uint8_t> cabinet;
    if (!readWholeFile(SpoolCabFile, cabinet)) {
        return FailureCode();
    }
    if (cabinet.size() > std::numeric_limits<std::uint32_t>::max()) {
        return kErrorFileTooLarge;
    }
    if (!copyFile(ProgramFolder() + kWindowsStub, target, false)) {
        return FailureCode();
    }
    targetWritten = true;

    moment2->show();
    ProcessMessages();
    const ResourceUpdateHandle update = beginUpdateResource(target, false);
    if (update == kNoResourceUpdate) {
        return FailureCode();
    }
    const auto discard = [update] {
        const std::uint32_t code = FailureCode();
        endUpdateResource(update, true);
        return code;
    };
    if (!updateResource(update, kResourceTypeRcData, "CABINET", kLanguageEnglishNeutral,
                        cabinet.data(), static_cast<std::uint32_t>(cabinet.size()))) {
        return discard();
    }
    std::vector<std::uint8_t>().swap(cabinet); // the resource holds its own copy now

    // An empty description stays filled in for later builds.
    if (cDescribe->text().isEmpty()) {
        cDescribe->setText(QString::fromLatin1(kDefaultPrompt));
    }
    // The stub reads its question as Windows-1252 text ending in a zero byte.
    const std::string prompt = utf8ToWindows1252(ToStdString(cDescribe->text()));
    if (!updateResource(update, kResourceTypeRcData, "UPROMPT", kLanguageEnglishNeutral,
                        prompt.c_str(), static_cast<std::uint32_t>(prompt.size() + 1))) {
        return discard();
    }
    if (!endUpdateResource(update, false)) {
        return FailureCode();
    }
    return kErrorSuccess;
}

// The DOS stub's bytes followed directly by the cabinet's. The stub is read before the
// target is opened, so a missing stub writes nothing.
std::uint32_t TcWizard::WriteDosSelfExtractor(const std::string& target) {
    using namespace platform;
    std::vector<std::uint8_t> bytes;
    if (!readWholeFile(ProgramFolder() + kDosStub, bytes)) {
        return FailureCode();
    }
    const FileHandle out = openFile(target, FileAccess::Write, FileDisposition::CreateAlways);
    if (out == kInvalidHandle) {
        return FailureCode();
    }
    bool written = writeAll(out, bytes.data(), bytes.size());
    std::vector<std::uint8_t>().swap(bytes);
    if (written) {
        ProcessMessages();
        written = readWholeFile(SpoolCabFile, bytes);
    }
    if (written) {
        moment2->show();
        ProcessMessages();
        written = writeAll(out, bytes.data(), bytes.size());
    }
    const std::uint32_t code = written ? kErrorSuccess : FailureCode();
    if (!closeFile(out) && written) {
        return FailureCode();
    }
    return code;
}

void TcWizard::cbTreeClick(QObject* /*Sender*/) {
    // Waits for the folder browser: empty PendingTrees, run bTree, and on OK list the
    // queued trees in lTree.
}

void TcWizard::cbFolderClick(QObject* /*Sender*/) {
    // Waits for the folder browser: empty PendingFolders, run bFolder, and on OK list
    // the queued folders in lFolder.
}

void TcWizard::cbFilesClick(QObject* /*Sender*/) {
    // Waits for the selection lists: run the file dialog bFiles and list the chosen
    // files in lFiles.
}

void TcWizard::aTreeClick(QObject* /*Sender*/) {
    // Waits for the selection lists: make tTree the current folder and list it in lTree.
}

void TcWizard::cTreeClick(QObject* /*Sender*/) {
    // Waits for the selection lists: empty lTree.
}

void TcWizard::sTreeClick(QObject* /*Sender*/) {
    // Waits for the selection lists: remove the selected entries of lTree.
}

void TcWizard::lTreeClick(QObject* /*Sender*/) {
    // Waits for the selection lists: copy lTree's current entry into tTree.
}

void TcWizard::aFolderClick(QObject* /*Sender*/) {
    // Waits for the selection lists: make tFolder the current folder and list it in
    // lFolder.
}

void TcWizard::sFolderClick(QObject* /*Sender*/) {
    // Waits for the selection lists: remove the selected entries of lFolder.
}

void TcWizard::cFolderClick(QObject* /*Sender*/) {
    // Waits for the selection lists: empty lFolder.
}

void TcWizard::lFolderClick(QObject* /*Sender*/) {
    // Waits for the selection lists: copy lFolder's current entry into tFolder.
}

void TcWizard::aFilesClick(QObject* /*Sender*/) {
    // Waits for the selection lists: list the existing file named in tFiles in lFiles.
}

void TcWizard::sFilesClick(QObject* /*Sender*/) {
    // Waits for the selection lists: remove the selected entry of lFiles.
}

void TcWizard::cFilesClick(QObject* /*Sender*/) {
    // Waits for the selection lists: empty lFiles.
}

void TcWizard::lFilesClick(QObject* /*Sender*/) {
    // Waits for the selection lists: copy lFiles' current entry into tFiles.
}

void TcWizard::bTreeCustomButtonClick(QObject* /*Sender*/, QWidget* /*DialogHandle*/) {
    // Waits for the folder browser: queue TreeSelection in PendingTrees and report
    // "Added tree" in bTree's status line.
}

void TcWizard::bFolderCustomButtonClick(QObject* /*Sender*/, QWidget* /*DialogHandle*/) {
    // Waits for the folder browser: queue FolderSelection in PendingFolders and report
    // "Added Folder" in bFolder's status line.
}

void TcWizard::bFolderSelectionChanged(QObject* /*Sender*/, QWidget* /*DialogHandle*/,
                                       const void* /*ItemIDList*/,
                                       const std::string& /*Directory*/) {
    // Waits for the folder browser: keep Directory in FolderSelection.
}

void TcWizard::bTreeSelectionChanged(QObject* /*Sender*/, QWidget* /*DialogHandle*/,
                                     const void* /*ItemIDList*/, const std::string& /*Directory*/) {
    // Waits for the folder browser: keep Directory in TreeSelection.
}

void TcWizard::bCancelClick(QObject* /*Sender*/) {
    // Waits for the compression run: set CancelRequested and show "Cancelling...".
}

void TcWizard::TimerTimer(QObject* /*Sender*/) {
    // Waits for the compression run: keep Track usable only while LZX is chosen, and
    // at 32K while MSZIP is.
}

void TcWizard::cabMajorStatus(tkFwCAB* /*Sender*/, const std::string& /*CabName*/, int /*Percent*/,
                              bool& /*Abort*/) {
    // Waits for the compression run: show Percent in p and pass CancelRequested on.
}

void TcWizard::cabMinorStatus(tkFwCAB* /*Sender*/, const std::string& /*FileName*/, int /*Percent*/,
                              bool& /*Abort*/) {
    // Waits for the compression run: show FileName in cFile and pass CancelRequested on.
}

void TcWizard::cabErrorNotify(tkFwCAB* /*Sender*/, int /*ErrID*/, int /*APICode*/,
                              const std::string& /*ErrText*/, int& /*Action*/) {
    // Waits for the compression run: the "Compression Complications" box, stop the
    // builder, and back to the Method page.
}

void TcWizard::BitBtn1Click(QObject* /*Sender*/) {
    if (save->Execute()) {
        xName->setFileName(save->FileName());
    }
}

void TcWizard::Button3Click(QObject* /*Sender*/) {
    // Started as a test run the wizard does not follow; its outcome is the user's to see.
    platform::startProgram(xName->FileName(), platform::kShowNormal);
}

} // namespace kp
