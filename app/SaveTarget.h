#ifndef SAVETARGET_H
#define SAVETARGET_H

#include <QString>

class OvIntegrations;

// Where a result goes. An external editor expects its file back in place and a filter host takes
// the planes whatever the path says; a stand-alone run keeps the original and writes a sibling.
class SaveTarget
{
public:
    static QString outputPath(const OvIntegrations *integrations, const QString &id);
};

#endif // SAVETARGET_H
