// Compiled with automatic reference counting (-fobjc-arc).
#include "platform/macos/UserNotifier.hpp"

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

@interface VesperonNotificationDelegate : NSObject <UNUserNotificationCenterDelegate>
@end

@implementation VesperonNotificationDelegate
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions))completionHandler {
    (void)center;
    (void)notification;
    completionHandler(UNNotificationPresentationOptionBanner |
                      UNNotificationPresentationOptionSound);
}
@end

namespace vesperon::platform {
namespace {

// currentNotificationCenter raises an Objective-C exception in a process without a
// bundle identifier (a bare executable), and an uncaught one aborts.
bool centreExists() {
    return CFBundleGetIdentifier(CFBundleGetMainBundle()) != nullptr;
}

NSString* text(const std::string& value) {
    NSString* converted = [[NSString alloc] initWithBytes:value.data()
                                                   length:value.size()
                                                 encoding:NSUTF8StringEncoding];
    return converted != nil ? converted : @"";
}

} // namespace

struct UserNotifier::State {
    // The centre holds its delegate weakly: this is the strong reference.
    VesperonNotificationDelegate* delegate = nil;
};

UserNotifier::UserNotifier() : state_(std::make_unique<State>()) {
    if (!centreExists()) {
        return;
    }
    @autoreleasepool {
        @try {
            state_->delegate = [[VesperonNotificationDelegate alloc] init];
            [UNUserNotificationCenter currentNotificationCenter].delegate = state_->delegate;
        } @catch (NSException*) {
            state_->delegate = nil;
        }
    }
}

UserNotifier::~UserNotifier() {
    if (state_->delegate == nil) {
        return;
    }
    @autoreleasepool {
        @try {
            [UNUserNotificationCenter currentNotificationCenter].delegate = nil;
        } @catch (NSException*) {
        }
    }
}

void UserNotifier::requestAuthorization(std::function<void(bool granted)> answer) {
    if (state_->delegate == nil) {
        answer(false);
        return;
    }
    @autoreleasepool {
        @try {
            // The completion runs on a queue of the centre's choosing; the caller hands
            // the answer to the main queue. An error comes with its own answer.
            [[UNUserNotificationCenter currentNotificationCenter]
                requestAuthorizationWithOptions:(UNAuthorizationOptionAlert |
                                                 UNAuthorizationOptionSound)
                              completionHandler:^(BOOL granted, NSError* error) {
                                (void)error;
                                answer(granted == YES);
                              }];
        } @catch (NSException*) {
            answer(false);
        }
    }
}

void UserNotifier::post(const std::string& identifier, const std::string& title,
                        const std::string& body) {
    if (state_->delegate == nil) {
        return;
    }
    @autoreleasepool {
        @try {
            UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
            content.title = text(title);
            content.body = text(body);
            content.sound = [UNNotificationSound defaultSound];
            // No trigger: delivered at once. The outcome of adding it is not needed.
            UNNotificationRequest* request =
                [UNNotificationRequest requestWithIdentifier:text(identifier)
                                                     content:content
                                                     trigger:nil];
            [[UNUserNotificationCenter currentNotificationCenter] addNotificationRequest:request
                                                                   withCompletionHandler:nil];
        } @catch (NSException*) {
        }
    }
}

} // namespace vesperon::platform
