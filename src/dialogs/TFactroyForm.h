// The factory dialog: reads the radio's factory copy of its tuning data into
// the tuner image, so that the factory values can be looked at in the tuning
// window and written back to the radio with write-all. Shown modally from
// the main window's N1 while tuner mode is on; it works on the link that
// entering tuner mode opened.
#pragma once

#include <QDialog>
#include <functional>

#include "protocol/RadioOperations.h"

class QListWidget;
class QPushButton;
class QTimer;

class TFactroyForm : public QDialog {
    Q_OBJECT
public:
    explicit TFactroyForm(QWidget* parent = nullptr);

    // Runs after a factory read has replaced image bytes 0 to 511, before the
    // dialog closes; the main window lets the tuning window rebuild the page
    // of its selected tree item from the image.
    void setFactoryReadHandler(std::function<void()> handler);

    QPushButton* Button1 = nullptr;  // read the factory copy
    QPushButton* Button2 = nullptr;  // write the factory copy; never shown
    QListWidget* ListBox1 = nullptr; // result lines
    QTimer* ReadFactroyInfoTimer = nullptr;   // 10 ms poll for 0x8065
    QTimer* WriteFactroyInfoTimer = nullptr;  // 10 ms poll for 0x8064

public slots:
    void FormShow();
    void Button1Click();
    void Button2Click();
    void ReadFactroyInfoTimerTimer();
    void WriteFactroyInfoTimerTimer();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool ensureLink();

    varnel::FactoryReadOperation read_;
    varnel::FactoryWriteOperation write_;

    std::function<void()> factoryReadHandler_;
};
