// The "Choose Compressor" dialog on Qt widgets (resource 110), over ChooseCompressorModel. For an MP4
// render it names the MP4 encoder and offers its quality alone.
#pragma once

#include <QDialog>

class ChooseCompressorModel;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QTimer;

class CompressorDialog : public QDialog {
    Q_OBJECT
  public:
    CompressorDialog(QWidget* owner, ChooseCompressorModel& model);
    // Shows the model's state: the selected entry, the enabled controls, the quality.
    void Refresh();
    // Predicts the file's size for the choice as it stands (shortly after each change).
    void Predict();

  private:
    ChooseCompressorModel& model_;
    QComboBox* list_;
    QLabel* qualityLabel_;
    QLabel* number_;
    QScrollBar* scroll_;
    QPushButton* configure_;
    QPushButton* about_;
    QCheckBox* copy_;
    QCheckBox* fit_;
    QSpinBox* fitSize_;
    QLabel* predicted_;
    QTimer* predictTimer_;
};

// Makes the compressor choice show this dialog.
void InstallQtCompressorDialog();
