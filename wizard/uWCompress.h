// The wizard window: eight pages in the notebook Steps, walked with Back and Next.
#pragma once

#include "BrowseFolder.h"
#include "FileDrop.h"
#include "SaveDialog.h"
#include "TestRunFeedback.h"
#include "engine/kFwCAB.h"
#include "selfextract/SelfExtractor.h"
#include "ui_cWizard.h"

#include <QElapsedTimer>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

class QFileDialog;
class QTimer;

namespace kp {

// Wizard-wide state: one instance each, alive for the whole process.
// The page shown: 1 Welcome, 2 Tree, 3 Folder, 4 Files, 5 Method, 6 Compress, 7 sfx,
// 8 Cool; 0 until the window is created.
extern std::int32_t Step;
// Set by Cancel and by every error of the cabinet builder; read by its status events.
extern bool CancelRequested;
// The intermediate cabinet, "kspool.cab" in the program's folder.
extern std::string SpoolCabFile;
// Folders queued by the folder browsers' extra buttons until the browser closes.
extern std::vector<std::string> PendingTrees;
extern std::vector<std::string> PendingFolders;
// The folder each browser reported as selected last.
extern std::string TreeSelection;
extern std::string FolderSelection;

class TcWizard : public QWidget, public Ui::TcWizard {
    Q_OBJECT

public:
    // CommandLine: the program's arguments without its own name, each a path.
    explicit TcWizard(std::vector<std::string> CommandLine = {}, QWidget* parent = nullptr);
    ~TcWizard() override;

    // Components without a place of their own.
    TBrowseFolder* bTree = nullptr;
    TBrowseFolder* bFolder = nullptr;
    QFileDialog* bFiles = nullptr;
    TFileDrop* dd = nullptr;
    QTimer* Timer = nullptr;
    TSaveDialog* save = nullptr;
    tkFwCAB cab;

    void wcancelClick(QObject* Sender);
    void cbTreeClick(QObject* Sender);
    void cbFolderClick(QObject* Sender);
    void wnextClick(QObject* Sender);
    void wbackClick(QObject* Sender);
    void cbFilesClick(QObject* Sender);
    void aTreeClick(QObject* Sender);
    void cTreeClick(QObject* Sender);
    void sTreeClick(QObject* Sender);
    void FormCreate(QObject* Sender);
    void lTreeClick(QObject* Sender);
    void aFolderClick(QObject* Sender);
    void sFolderClick(QObject* Sender);
    void cFolderClick(QObject* Sender);
    void lFolderClick(QObject* Sender);
    void aFilesClick(QObject* Sender);
    void sFilesClick(QObject* Sender);
    void cFilesClick(QObject* Sender);
    void lFilesClick(QObject* Sender);
    void bCancelClick(QObject* Sender);
    void BitBtn1Click(QObject* Sender);
    void Button3Click(QObject* Sender);
    void ddDrop(QObject* Sender);
    void TimerTimer(QObject* Sender);
    void cabMajorStatus(tkFwCAB* Sender, const std::string& CabName, int Percent, bool& Abort);
    void cabMinorStatus(tkFwCAB* Sender, const std::string& FileName, int Percent, bool& Abort);
    void cabWindowsNames(tkFwCAB* Sender, const std::vector<TWindowsNameReport>& Reports,
                         bool& Abort);
    void cabErrorNotify(tkFwCAB* Sender, int ErrID, int APICode, const std::string& ErrText,
                        int& Action);
    void bTreeCustomButtonClick(TBrowseFolder* Sender, QWidget* DialogHandle);
    void bFolderCustomButtonClick(TBrowseFolder* Sender, QWidget* DialogHandle);
    void bFolderSelectionChanged(TBrowseFolder* Sender, QWidget* DialogHandle,
                                 const QModelIndex& ItemIDList, const std::string& Directory);
    void bTreeSelectionChanged(TBrowseFolder* Sender, QWidget* DialogHandle,
                               const QModelIndex& ItemIDList, const std::string& Directory);

    // Shows page Step: heading, page, side picture, Back, Next and drop acceptance.
    void ShowStep();
    void ShowWelcomePage();
    void ShowTreePage();
    void ShowFolderPage();
    void ShowFilesPage();
    void ShowMethodPage();
    void StartCompression();
    void ShowSfxPage();
    void ShowCoolPage();
    void BuildSelfExtractor();
    // Sorts dropped names (or the command line's) into the lists, then shows Method.
    void AddDropped(const std::vector<std::string>& Names);

protected:
    void showEvent(QShowEvent* event) override;
    // Closing during a compression run cancels it; closing during a run or while the
    // self-extractor is being built waits for that work to end.
    void closeEvent(QCloseEvent* event) override;

private:
    void SetUpComponents();
    void BindHandlers();
    // Makes the page of that name the current page of Steps, under its heading and
    // with its picture beside it.
    void ShowPage(const QString& heading, const char* name, QWidget* picture);
    // Back, Next and Close together, which long steps disable while they work.
    void EnableWizardButtons(bool enabled);
    // One layout of BuildSelfExtractor, with the page's progress around it; returns 0
    // or the code of the step that failed.
    std::uint32_t WriteSelfExtractor(const std::string& target, selfextract::SfxLayout layout);
    // The status handlers' turn for the window: when the last turn is kRunAnswerMs or
    // more ago, the bar and the file name show the run's latest status and the waiting
    // events are handled.
    void AnswerDuringRun();
    // The latest percent and file name of the run on the bar and in the label.
    void ShowRunStatus();

    std::vector<std::string> commandLine_;
    QElapsedTimer lastAnswer_;
    int runPercent_ = 0;
    std::string runFile_;
    bool placed_ = false;
    bool runUnderWay_ = false;
    bool buildUnderWay_ = false;
    bool closeWhenDone_ = false;
    TestRunFeedback* testRun_ = nullptr;
};

} // namespace kp
