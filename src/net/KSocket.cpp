#include "vxkernel/net/KSocket.h"

#include <cstdio>

KSocket::~KSocket() = default;

bool KSocket::OpenServer(unsigned short port, FamilyHint hint) {
  char service[16];
  std::snprintf(service, sizeof service, "%lu", static_cast<unsigned long>(port));
  return OpenServiceAsServer(service, hint);
}

bool KSocket::OpenClient(const char* host, unsigned short port) {
  char service[16];
  std::snprintf(service, sizeof service, "%lu", static_cast<unsigned long>(port));
  return OpenServiceAsClient(host, service);
}

bool KSocket::ConnectBegin(const char*, unsigned short) { return false; }

bool KSocket::ConnectComplete() { return false; }

long KSocket::ReadWithTimeout(char*, long, unsigned short) { return -2; }

void KSocket::Blocking(unsigned char blocking) {
  OnBlockingSet(blocking);
  fBlocking = blocking;
}

void KSocket::OnBlockingSet(unsigned char) {}
