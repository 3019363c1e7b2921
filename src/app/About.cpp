// The About window and the help command.
#include <QPalette>
#include <memory>

#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "version.h"

namespace trimora {

namespace {
const char* const kNotice = " 2026 Corvale";
}

frmAbout::frmAbout(QWidget* owner) : QDialog(owner) {
    setObjectName("frmAbout");
    if (owner) setFont(owner->font());
    setWindowTitle("About Trimora");
    setModal(true);
    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    Label2 = new SkinLabel("Trimora", this);
    Label2->setObjectName("Label2");
    QFont big = Label2->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    Label2->setFont(big);
    Label1 = new SkinLabel("Version 1.2", this);
    Label1->setObjectName("Label1");
    Label4 = new SkinLabel("Copyright", this);
    Label4->setObjectName("Label4");
    Label3 = new SkinLabel("A Program For Cut, Split and Capture Video Files", this);
    Label3->setObjectName("Label3");
    Label3->setWordWrap(true);
    setFixedSize(420, 220);
    PlaceTwips(Label2, 360, 300, 5580, 600);
    PlaceTwips(Label1, 360, 990, 5580, 300);
    PlaceTwips(Label3, 360, 1380, 5580, 600);
    PlaceTwips(Label4, 360, 2100, 5580, 300);
    PlaceTwips(cmdOK, 4740, 2520, 1200, 420);  // the same 24-pixel margin as the labels
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    Form_Load();
}

void frmAbout::Form_Load() {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(179, 188, 152));
    setPalette(colours);
    setAutoFillBackground(true);
}

void frmAbout::cmdOK_Click() { close(); }

void frmMain::cmdHelp_Click() {
    auto about = std::make_unique<frmAbout>(this);
    Skin1->SkinWindow(about.get());
    about->setWindowTitle(Messages[26]);
    about->Label4->SetCaption(Messages[28] + kNotice);
    about->Label1->SetCaption(Messages[27] + " " + QString::number(kVersionMajor) + "." +
                              QString::number(kVersionMinor));
    about->Label3->SetCaption(Messages[29]);
    platform_.RunModal(about.get());
}

void frmMain::HelpCommand(const QString& elementName) {
    if (elementName != "Help") return;
    const QString compiled = programFolder_ + "/trimora.chm";
    if (platform_.ShellOpen(compiled)) return;
    // Without a viewer for compiled help, the same pages in the web browser.
    const QString pages = programFolder_ + "/help/index.html";
    if (platform_.ShellOpen(pages)) return;
    ShowMessage(DesktopText(0, "The help could not be opened. You find it here:") + "\n" + compiled + "\n" + pages,
                MessageIcon::Information);
}

}  // namespace trimora
