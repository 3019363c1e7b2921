#pragma once
#include <QDialog>
#include <QPushButton>

#include "app/Controls.h"

namespace trimora {

// The About window: the program's name, version, notice and description.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* owner);
    QPushButton* cmdOK = nullptr;
    SkinLabel* Label2 = nullptr;  // the program's name
    SkinLabel* Label1 = nullptr;  // the version line
    SkinLabel* Label4 = nullptr;  // the notice
    SkinLabel* Label3 = nullptr;  // the description

    void Form_Load();
    void cmdOK_Click();
};

}  // namespace trimora
