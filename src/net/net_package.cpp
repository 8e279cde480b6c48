#include "net/net_package.h"

KWSASocketPkg::KWSASocketPkg() : KAtProcess(8) {}

KWSASocketPkg::~KWSASocketPkg() = default;
