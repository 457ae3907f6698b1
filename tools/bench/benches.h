#pragma once

#include <QStringList>

// Each benchmark takes the arguments after its name and returns the process exit status.
int runExploreBench(const QStringList &arguments);
int runViewBench(const QStringList &arguments);
int runRegistryBench(const QStringList &arguments);
