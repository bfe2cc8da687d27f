// SPDX-License-Identifier: MIT
/* The least a lock-step TFTP client can do per block, as a floor to measure
 * Tarnwick against: one blocking recv and one send per block and the file
 * written through stdio, no timeouts, no checks beyond the block number, no
 * window. Loopback only; a lost datagram hangs it.
 *
 *   floor_client get PORT REMOTE LOCAL
 *   floor_client put PORT LOCAL REMOTE
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int Request(int fd, const struct sockaddr_in* server, int opcode, const char* name)
{
    unsigned char packet[600];
    const size_t length = strlen(name);
    if (length > 255)
        return -1;
    packet[0] = 0;
    packet[1] = (unsigned char)opcode;
    memcpy(packet + 2, name, length + 1);
    memcpy(packet + 3 + length, "octet", 6);
    return (int)sendto(fd, packet, length + 9, 0, (const struct sockaddr*)server, sizeof *server);
}

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    const int get = strcmp(argv[1], "get") == 0;
    struct sockaddr_in server = {0};
    server.sin_family = AF_INET;
    server.sin_port = htons((unsigned short)atoi(argv[2]));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    FILE* file = fopen(get ? argv[4] : argv[3], get ? "wb" : "rb");
    if (fd < 0 || file == NULL || Request(fd, &server, get ? 1 : 2, get ? argv[3] : argv[4]) < 0)
        return 1;

    unsigned char packet[520];
    struct sockaddr_in peer;
    socklen_t peerLength = sizeof peer;
    unsigned block = get ? 1 : 0;
    int connected = 0;
    for (;;) {
        const ssize_t n = connected ? recv(fd, packet, sizeof packet, 0)
                                    : recvfrom(fd, packet, sizeof packet, 0, (struct sockaddr*)&peer, &peerLength);
        if (n < 4 || packet[1] == 5)
            return 1;
        if (!connected) {
            connect(fd, (struct sockaddr*)&peer, peerLength);
            connected = 1;
        }
        if ((((unsigned)packet[2] << 8) | packet[3]) != (block & 0xFFFF))
            continue;
        if (get) {
            fwrite(packet + 4, 1, (size_t)n - 4, file);
            packet[1] = 4;
            send(fd, packet, 4, 0);
            if (n < 516)
                break;
        } else {
            static int last = 0;
            if (last)
                break;
            const size_t count = fread(packet + 4, 1, 512, file);
            ++block;
            packet[1] = 3;
            packet[2] = (unsigned char)(block >> 8);
            packet[3] = (unsigned char)block;
            send(fd, packet, count + 4, 0);
            last = count < 512;
            continue;
        }
        ++block;
    }
    fclose(file);
    close(fd);
    return 0;
}
