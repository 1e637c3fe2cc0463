#include "PluginData.h"

PluginData::PluginData()
    : QObject(nullptr)
{
}

PluginData::~PluginData() = default;

bool PluginData::eventFilter(QObject *, QEvent *)
{
    return false;
}

bool PluginData::isPluginMode() const
{
    return true;
}

bool PluginData::isLoading() const
{
    return false;
}

QString PluginData::loadingError() const
{
    return {};
}

QString PluginData::loadingStatus() const
{
    return {};
}

bool PluginData::canMergeInstance() const
{
    return true;
}

QString PluginData::getDataForMerging()
{
    return {};
}

void PluginData::mergeInstance(const QString &) { }

void PluginData::setup(QApplication *, OvIntercom *) { }

void PluginData::start() { }

void PluginData::cleanup() { }
