#pragma once

#include <QMainWindow>

// The console's single top-level window and its controller.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;
};
