// Settings of an assay template that the calibration needs: its calibration record.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef ASSAYTEMPLATE_H
#define ASSAYTEMPLATE_H

#include "ryenums.h"

#include <QString>

class AssayTemplate
{
public:
    /*! \brief The settings of one calibration of a template (one assayCalibration row). */
    class Calibration
    {
    public:
        Calibration();
        ~Calibration();

        ry::Function dispFunX() const;
        ry::Function dispFunY() const;

        int assayTemplateId; // owning template; 0 when the calibration is read on its own
        int id;
        int method; // a ry::RegressionMethod value
        QString name;
        QString condition;
        QString caliX;
        QString caliY;
        QString funX;
        QString funY;
        QString dispX;
        QString dispY;
    };
};

#endif // ASSAYTEMPLATE_H
