// A stand-in for macOS's dns-sd tool, for its register form:
//   dns-sd -R <name> <type> <domain> <port> [<key=value> ...]
// It advertises the service through the Avahi daemon and keeps the registration up while it
// runs. Without a reachable daemon it says why on standard error and exits non-zero.
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Registration {
    std::string name;
    std::string type;
    std::string domain;
    uint16_t port = 0;
    std::vector<std::string> txt;
    AvahiSimplePoll* poll = nullptr;
    AvahiEntryGroup* group = nullptr;
    int exitStatus = 0;
};

AvahiSimplePoll* stopPoll = nullptr;

void stop(int) {
    if (stopPoll != nullptr) avahi_simple_poll_quit(stopPoll);
}

void timestamped(const std::string& text) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    std::printf("%s.000  %s\n", clock, text.c_str());
    std::fflush(stdout);
}

void fail(Registration& registration, const std::string& why) {
    std::fprintf(stderr, "dns-sd: %s\n", why.c_str());
    registration.exitStatus = 1;
    avahi_simple_poll_quit(registration.poll);
}

void groupChanged(AvahiEntryGroup*, AvahiEntryGroupState state, void* data) {
    auto& registration = *static_cast<Registration*>(data);
    const std::string full = registration.name + "." + registration.type + "." + registration.domain + ".";
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
        timestamped("Got a reply for service " + full + ": Name now registered and active");
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        fail(registration, "the name " + full + " is already in use on the network");
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        fail(registration, "the registration of " + full + " failed");
    }
}

void publish(AvahiClient* client, Registration& registration) {
    registration.group = avahi_entry_group_new(client, groupChanged, &registration);
    if (registration.group == nullptr) return fail(registration, avahi_strerror(avahi_client_errno(client)));
    AvahiStringList* txt = nullptr;
    for (const auto& item : registration.txt) txt = avahi_string_list_add(txt, item.c_str());
    const char* domain = registration.domain == "local" || registration.domain == "local." ? nullptr : registration.domain.c_str();
    const int error = avahi_entry_group_add_service_strlst(registration.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                           static_cast<AvahiPublishFlags>(0), registration.name.c_str(),
                                                           registration.type.c_str(), domain, nullptr, registration.port, txt);
    avahi_string_list_free(txt);
    if (error < 0) return fail(registration, std::string("cannot add the service: ") + avahi_strerror(error));
    if (const int commit = avahi_entry_group_commit(registration.group); commit < 0) {
        fail(registration, std::string("cannot register the service: ") + avahi_strerror(commit));
    }
}

void clientChanged(AvahiClient* client, AvahiClientState state, void* data) {
    auto& registration = *static_cast<Registration*>(data);
    if (state == AVAHI_CLIENT_S_RUNNING && registration.group == nullptr) publish(client, registration);
    if (state == AVAHI_CLIENT_FAILURE) {
        fail(registration, std::string("lost the Avahi daemon: ") + avahi_strerror(avahi_client_errno(client)));
    }
}

int usage() {
    std::fprintf(stderr, "usage: dns-sd -R <name> <type> <domain> <port> [<key=value> ...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || std::string(argv[1]) != "-R") return usage();
    Registration registration;
    registration.name = argv[2];
    registration.type = argv[3];
    registration.domain = argv[4];
    const long port = std::strtol(argv[5], nullptr, 10);
    if (port <= 0 || port > 65535) return usage();
    registration.port = static_cast<uint16_t>(port);
    for (int i = 6; i < argc; ++i) registration.txt.emplace_back(argv[i]);

    std::printf("Registering Service %s.%s.%s port %ld\n", argv[2], argv[3], argv[4], port);
    std::fflush(stdout);
    registration.poll = avahi_simple_poll_new();
    stopPoll = registration.poll;
    signal(SIGTERM, stop);
    signal(SIGINT, stop);
    int error = 0;
    AvahiClient* client = avahi_client_new(avahi_simple_poll_get(registration.poll), static_cast<AvahiClientFlags>(0),
                                           clientChanged, &registration, &error);
    if (client == nullptr) {
        std::fprintf(stderr, "dns-sd: cannot reach the Avahi daemon: %s\n", avahi_strerror(error));
        avahi_simple_poll_free(registration.poll);
        return 1;
    }
    avahi_simple_poll_loop(registration.poll);
    avahi_client_free(client);
    avahi_simple_poll_free(registration.poll);
    return registration.exitStatus;
}
