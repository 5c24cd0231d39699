// Settings of an assay template that the calibration needs: its calibration record.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "assaytemplate.h"

AssayTemplate::Calibration::Calibration()
    : assayTemplateId(0)
    , id(0)
    , method(ry::LinearFit)
{
}

AssayTemplate::Calibration::~Calibration() = default;

ry::Function AssayTemplate::Calibration::dispFunX() const
{
    return ry::functionFromName(dispX);
}

ry::Function AssayTemplate::Calibration::dispFunY() const
{
    return ry::functionFromName(dispY);
}
