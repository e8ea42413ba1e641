#include "tools/pbxsim/pbx_transport.h"

namespace qv::pbxsim {

namespace {

class PlainTransport : public Transport {
 public:
  explicit PlainTransport(SocketHandle socket) : socket_(socket) {}
  ~PlainTransport() override { closeSocket(socket_); }
  bool Open() override { return true; }
  bool Send(std::string_view bytes) override { return sendAll(socket_, bytes); }
  long Receive(char* buffer, std::size_t size) override { return receiveSome(socket_, buffer, size); }
  void Abort() override { abortSocket(socket_); }
  bool SendRaw(std::string_view bytes) override { return sendAll(socket_, bytes); }
  long ReceiveRaw(char* buffer, std::size_t size) override { return receiveSome(socket_, buffer, size); }

 private:
  SocketHandle socket_;
};

}  // namespace

std::unique_ptr<Transport> MakePlainTransport(SocketHandle socket) {
  return std::make_unique<PlainTransport>(socket);
}

}  // namespace qv::pbxsim
