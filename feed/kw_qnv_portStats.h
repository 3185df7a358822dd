// kw_qnv_portStats: a snapshot of one feed port for the host: where the port
// came from (name, group, port number, interface, list file and line), why
// its socket set-up failed if it did, and what became of the datagrams it
// received. A plain value: no OS types, owns only its texts. Filled on the
// host's thread (kw_qnv_portHandler::readStats); any thread may read a copy.
//
// Where sniffers of one process share a port (the same group, port and
// interface: one reception), each sniffer's counts are its own share: what
// its buffer took, dropped and made of the datagrams of its nodes. Junk and
// datagrams for nodes none of them lists are counted once, on the sniffer
// that has listened longest. Summed over the sniffers, the counts of a port
// count each datagram once; a sniffer alone on its port has them all.
#pragma once

#include <cstdint>
#include <string>

struct kw_qnv_portStats {
  std::string name;          // port name from the port list ("beacon")
  std::string group;         // group text as written in the list
  int port = 0;              // UDP port number
  std::string interface;     // interface token from the list line, "" when none
  std::string listFile;      // port list file the line came from
  int line = 0;              // 1-based line number in that file
  std::string setupError;    // "" while the socket set-up succeeded; else the reason ("group
                             // 239.255.42: not an IPv4 address")
  uint64_t takenIn = 0;      // datagrams stored into the write half
  uint64_t droppedFull = 0;  // datagrams dropped because the write half was full
  uint64_t rejected = 0;     // envelope, checksum, range (nan/inf/out of range/node beyond int) or
                             // pre-check rejections
  uint64_t unknownNode =
      0;  // for a node number not in the node list, or negative (shared: in no sharer's list)
  uint64_t older = 0;  // older than the node's last accepted packet
};
